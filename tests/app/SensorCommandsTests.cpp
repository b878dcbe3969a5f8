// The geo, sensor and network control commands on the simulated device:
// what they change, and the words they refuse.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "app/SensorCommands.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

class NoNetwork : public platform::NetworkReachability {
 public:
  std::optional<uint32_t> currentFlags() override { return std::nullopt; }
  std::unique_ptr<platform::Subscription> startNotifier(std::function<void()>) override { return nullptr; }
};

class SensorCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { addSensorCommands(commands_, &location_, motion_, network_); }

  std::string error(std::vector<std::string> words) {
    auto answer = commands_.run(words);
    return answer.ok() ? "(no error)" : answer.errorMessage();
  }
  void ok(std::vector<std::string> words) {
    auto answer = commands_.run(words);
    EXPECT_TRUE(answer.ok()) << answer.errorMessage();
  }

  platform::SimulatedLocationService location_;
  platform::SimulatedMotionService motion_;
  NoNetwork real_;
  platform::ForcedNetworkReachability network_{real_};
  control::ControlCommandRegistry commands_{nullptr};
};

TEST_F(SensorCommandsTest, SetThePositionTheSensorsAndTheNetwork) {
  ok({"geo", "fix", "48.5", "2.25", "35", "3"});
  auto position = location_.status().position;
  ASSERT_TRUE(position);
  EXPECT_EQ(position->latitude, 48.5);
  EXPECT_EQ(position->altitude, 35);
  EXPECT_EQ(position->horizontalAccuracy, 3);
  EXPECT_EQ(position->verticalAccuracy, platform::kDefaultVerticalAccuracy);
  ok({"geo", "fix", "12", "22"});
  EXPECT_EQ(location_.status().position->verticalAccuracy, -1);  // no ALT: the altitude is not known
  ok({"geo", "disable"});
  EXPECT_FALSE(location_.locationServicesEnabled());
  ok({"sensor", "accel", "0", "0.5", "-1"});
  ok({"sensor", "gyro", "1e-3", "0", "+2"});
  ok({"sensor", "attitude", "1.5707963267948966", "0", "0"});
  ok({"sensor", "gyroscope", "off"});
  auto values = motion_.values();
  EXPECT_EQ(values.acceleration, (platform::MotionVector{0, 0.5, -1}));
  EXPECT_EQ(values.rotationRate, (platform::MotionVector{0.001, 0, 2}));
  EXPECT_EQ(values.attitude.roll, 1.5707963267948966);
  EXPECT_FALSE(values.gyroAvailable);
  ok({"network", "cell"});
  EXPECT_EQ(network_.forced(), platform::ForcedNetworkStatus::Cell);
  ok({"network", "real"});
  EXPECT_EQ(network_.forced(), std::nullopt);
  auto status = commands_.run({"sensors"});
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(status.value().asObject().find("network")->asString(), "real");
}

TEST_F(SensorCommandsTest, RefuseWordsThatDoNotFitAndChangeNothing) {
  EXPECT_NE(error({"geo", "fix", "91", "0"}).find("latitude must be from -90 to 90"), std::string::npos);
  EXPECT_NE(error({"geo", "fix", "1", "2", "3", "-4"}).find("ACCURACY must not be negative"), std::string::npos);
  EXPECT_NE(error({"geo", "fix", "1,5", "2"}).find("LAT must be a number, not \"1,5\""), std::string::npos);
  EXPECT_NE(error({"geo", "fix", "1", "2", "3", "4", "5"}).find("5"), std::string::npos);
  EXPECT_NE(error({"sensor", "accel", "1", "inf", "0"}).find("Y must be a number"), std::string::npos);
  EXPECT_NE(error({"sensor", "accel", "1", "2"}).find("Z"), std::string::npos);
  EXPECT_NE(error({"network", "5g"}).find("say none, wifi, cell or real"), std::string::npos);
  EXPECT_NE(error({"geo", "play", "walk.gpx"}).find("FILE must be an absolute path"), std::string::npos);
  EXPECT_NE(error({"geo", "play", "/nonexistent/walk.gpx"}).find("is not a readable file"), std::string::npos);
  EXPECT_NE(error({"sensor", "play", "/etc"}).find("is not a readable file"), std::string::npos);
  EXPECT_FALSE(location_.status().position);
  EXPECT_EQ(motion_.values().acceleration, (platform::MotionVector{0, 0, -1}));
  EXPECT_EQ(network_.forced(), std::nullopt);
}

TEST_F(SensorCommandsTest, PlayTracksAndTracesFromFiles) {
  fs::path folder = fs::temp_directory_path() / ("tavero-sensor-commands-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "walk.csv") << "time,latitude,longitude\n0,1,2\n3600,1.5,2\n";
  std::ofstream(folder / "shake.csv") << "time,accelX,accelY,accelZ\n0,0.25,0,-1\n3600,0,0,-1\n";
  auto answer = commands_.run({"geo", "play", (folder / "walk.csv").string()});
  ASSERT_TRUE(answer.ok()) << answer.errorMessage();
  EXPECT_EQ(answer.value(), json::Value("playing 2 points over 3600 s"));
  answer = commands_.run({"sensor", "play", (folder / "shake.csv").string()});
  ASSERT_TRUE(answer.ok()) << answer.errorMessage();
  EXPECT_EQ(motion_.values().acceleration.x, 0.25);  // the first row applies at once
  EXPECT_EQ(motion_.values().traceRowsLeft, 1u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace tavero::app
