// Reading the files developers give the simulated sensors: location tracks
// (GPX and CSV), motion traces and the sensor part of device profiles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/sim/LocationTrack.h"
#include "platform/sim/MotionTrace.h"
#include "platform/sim/SensorProfile.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

// The value, or (with a failure naming the message) an empty one.
template <class T>
T valueOf(std::variant<T, std::string> result) {
  if (auto* message = std::get_if<std::string>(&result)) {
    ADD_FAILURE() << *message;
    return T{};
  }
  return std::get<T>(std::move(result));
}

std::string errorOf(const auto& result) {
  auto* message = std::get_if<std::string>(&result);
  return message ? *message : "(no error)";
}

TEST(LocationTrack, ReadsGpxPointsWithTimesAndComputesCourseAndSpeed) {
  auto result = parseLocationTrack(R"(<?xml version="1.0"?>
    <gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
      <trkpt lat="48.0" lon="2.0"><ele>35.5</ele><time>2024-05-01T10:00:00Z</time></trkpt>
      <trkpt lat="48.001" lon="2.0"><ele>36</ele><time>2024-05-01T10:00:10Z</time></trkpt>
      <trkpt lat="48.001" lon="2.001"><time>2024-05-01T10:00:20.5Z</time><speed>3</speed></trkpt>
    </trkseg></trk></gpx>)");
  auto track = valueOf(std::move(result));
  ASSERT_EQ(track.size(), 3u);
  EXPECT_EQ(track[0].offset, 0);
  EXPECT_EQ(track[1].offset, 10);
  EXPECT_DOUBLE_EQ(track[2].offset, 20.5);
  EXPECT_EQ(track[0].fix.altitude, 35.5);
  EXPECT_NEAR(track[1].fix.course, 0, 1e-9);   // due north
  EXPECT_NEAR(track[1].fix.speed, 11.12, 0.01);  // 111 m in 10 s
  EXPECT_NEAR(track[0].fix.speed, 11.12, 0.01);  // the first point takes the motion towards the second
  EXPECT_NEAR(track[2].fix.course, 90, 0.01);  // due east
  EXPECT_EQ(track[2].fix.speed, 3);             // the file's own value wins
  EXPECT_EQ(track[0].fix.horizontalAccuracy, kDefaultHorizontalAccuracy);
  EXPECT_EQ(track[0].fix.verticalAccuracy, kDefaultVerticalAccuracy);
  EXPECT_EQ(track[2].fix.verticalAccuracy, -1);  // no <ele>: the altitude is not known
}

TEST(LocationTrack, APointWithoutAnAltitudeHasNoneWhateverItsAccuracy) {
  auto track = valueOf(parseLocationTrack("latitude,longitude,altitude,altitudeAccuracy\n1,2,40,3\n1,2,,3\n1,2,,\n1,2,0,\n"));
  ASSERT_EQ(track.size(), 4u);
  EXPECT_EQ(track[0].fix.altitude, 40);
  EXPECT_EQ(track[0].fix.verticalAccuracy, 3);
  EXPECT_EQ(track[1].fix.verticalAccuracy, -1);
  EXPECT_EQ(track[2].fix.verticalAccuracy, -1);
  EXPECT_EQ(track[3].fix.verticalAccuracy, kDefaultVerticalAccuracy);  // sea level is an altitude
  auto flat = valueOf(parseLocationTrack("latitude,longitude\n1,2\n"));
  EXPECT_EQ(flat[0].fix.verticalAccuracy, -1);
}

TEST(LocationTrack, ReadsCsvWithColumnsInAnyOrderAndPointsASecondApartWithoutTimes) {
  auto timed = valueOf(parseLocationTrack(
      "# a walk\nlongitude, latitude ,time,accuracy,course\n2.0,48.0,100,3,\n2.0,48.0,101.5,,45\n"));
  ASSERT_EQ(timed.size(), 2u);
  EXPECT_EQ(timed[1].offset, 1.5);
  EXPECT_EQ(timed[0].fix.horizontalAccuracy, 3);
  EXPECT_EQ(timed[1].fix.horizontalAccuracy, kDefaultHorizontalAccuracy);
  EXPECT_EQ(timed[0].fix.course, -1);  // standing still: no course
  EXPECT_EQ(timed[0].fix.speed, 0);
  EXPECT_EQ(timed[1].fix.course, 45);
  auto untimed = valueOf(parseLocationTrack("latitude,longitude\n1,2\n1,3\n1,4\n"));
  ASSERT_EQ(untimed.size(), 3u);
  EXPECT_EQ(untimed[2].offset, 2);
}

TEST(LocationTrack, RefusesBadFilesWithAMessageThatSaysWhere) {
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,longitude,height\n1,2,3\n")),
            "line 1: unknown column \"height\" (known: time, latitude, longitude, altitude, accuracy, "
            "altitudeAccuracy, course, speed)");
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,time\n1,2\n")), "line 1: the header must name latitude and longitude");
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,longitude\n91,2\n")), "line 2: latitude must be from -90 to 90");
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,longitude\n1,2e999\n")), "line 2: \"2e999\" is not a number");
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,longitude\n1,nan\n")), "line 2: \"nan\" is not a number");
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,longitude\n1\n")), "line 2: has 1 cells, the header names 2");
  EXPECT_EQ(errorOf(parseLocationTrack("time,latitude,longitude\n5,1,2\n4,1,2\n")),
            "point 2 has a time before the point ahead of it");
  EXPECT_EQ(errorOf(parseLocationTrack("latitude,longitude\n")), "the track has no points");
  // A time far in the future would overflow the player's clock.
  EXPECT_EQ(errorOf(parseLocationTrack("time,latitude,longitude\n0,1,2\n1e300,1,2\n")),
            "point 2 comes more than a year after the first");
  EXPECT_EQ(errorOf(parseLocationTrack("<gpx><trk><trkpt lat=\"1\"></trkpt></trk></gpx>")),
            "point 1: needs numeric lat and lon attributes");
  EXPECT_EQ(errorOf(parseLocationTrack("<gpx><trkpt lat='1' lon='2'><time>yesterday</time></trkpt></gpx>")),
            "point 1: <time> is not an ISO 8601 time: \"yesterday\"");
  // Entities are not expanded: no file can be pulled in through the track.
  std::string entity = errorOf(parseLocationTrack(
      "<!DOCTYPE gpx [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><gpx><trkpt lat='1' lon='2'><ele>&x;</ele></trkpt></gpx>"));
  EXPECT_NE(entity, "(no error)");
  EXPECT_EQ(errorOf(parseLocationTrack("<gpx><trkpt lat='1' lon='2'>")).rfind("not readable GPX", 0), 0u);
}

TEST(MotionTrace, ReadsGroupsOfThreeAndKeepsValuesThroughEmptyCells) {
  auto trace = valueOf(parseMotionTrace(
      "time,accelX,accelY,accelZ,roll,pitch,yaw\n10,0,0,-1,0,0,0\n10.02,0.5,,,,,\n10.04,,,,1.5,0,0\n"));
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_NEAR(trace[1].offset, 0.02, 1e-12);
  EXPECT_EQ(trace[1].acceleration, (MotionVector{0.5, 0, -1}));
  EXPECT_FALSE(trace[1].rotationRate);
  EXPECT_EQ(trace[2].attitude, (Attitude{1.5, 0, 0}));
  EXPECT_EQ(errorOf(parseMotionTrace("time,accelX,accelY\n0,1,2\n")), "line 1: name all of accelX, accelY, accelZ or none");
  EXPECT_EQ(errorOf(parseMotionTrace("accelX,accelY,accelZ\n0,1,2\n")), "line 1: the header must name a time column");
  EXPECT_EQ(errorOf(parseMotionTrace("time,roll,pitch,yaw\n1,0,0,0\n0,0,0,0\n")), "line 3: time goes backwards");
  EXPECT_EQ(errorOf(parseMotionTrace("time,roll,pitch,yaw\n,0,0,0\n")), "line 2: \"\" is not a number");
  EXPECT_EQ(errorOf(parseMotionTrace("time,roll,pitch,yaw\n-1e300,0,0,0\n1e300,0,0,0\n")),
            "line 3: comes more than a year after the first row");
}

class SensorProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tests run in parallel processes: the folder is this process's own.
    folder_ = fs::temp_directory_path() / ("tavero-sensor-profile-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
    std::ofstream(folder_ / "walk.csv") << "latitude,longitude\n1,2\n3,4\n";
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(SensorProfileTest, ReadsLocationMotionAndNetworkWithFilesBesideTheProfile) {
  auto profile = valueOf(readSensorProfile(R"({
      "name": "ignored here",
      "location": {"enabled": false, "latitude": 48.5, "longitude": 2.25, "speed": 1.5, "track": "walk.csv"},
      "motion": {"gyroscope": false, "acceleration": [0, 0.5, -1], "attitude": [0, 0, 1]},
      "network": "cell"})", folder_));
  EXPECT_EQ(profile.locationEnabled, false);
  ASSERT_TRUE(profile.position);
  EXPECT_EQ(profile.position->latitude, 48.5);
  EXPECT_EQ(profile.position->speed, 1.5);
  EXPECT_EQ(profile.position->course, -1);
  EXPECT_EQ(profile.position->verticalAccuracy, -1);  // no altitude given: not known
  ASSERT_TRUE(profile.track);
  EXPECT_EQ(profile.track->size(), 2u);
  EXPECT_EQ(profile.gyroscope, false);
  EXPECT_EQ(profile.acceleration, (MotionVector{0, 0.5, -1}));
  EXPECT_EQ(profile.attitude, (Attitude{0, 0, 1}));
  ASSERT_TRUE(profile.network);
  EXPECT_EQ(profile.network->forced, ForcedNetworkStatus::Cell);
}

TEST_F(SensorProfileTest, NamesTheKeyAtFault) {
  EXPECT_EQ(errorOf(readSensorProfile(R"({"location": {"latitude": 1}})", folder_)),
            "\"location\" needs both latitude and longitude for a position");
  EXPECT_EQ(errorOf(readSensorProfile(R"({"location": {"latitude": 1, "longitude": 200}})", folder_)),
            "\"location\": longitude must be from -180 to 180");
  EXPECT_EQ(errorOf(readSensorProfile(R"({"motion": {"acceleration": [0, 1]}})", folder_)),
            "\"motion.acceleration\" must be an array of three numbers");
  EXPECT_EQ(errorOf(readSensorProfile(R"({"motion": {"gyroscope": "yes"}})", folder_)),
            "\"motion.gyroscope\" must be true or false");
  EXPECT_EQ(errorOf(readSensorProfile(R"({"network": "5g"})", folder_)),
            "\"network\" must be \"real\", \"none\", \"wifi\" or \"cell\"");
  EXPECT_EQ(errorOf(readSensorProfile(R"({"motion": {"trace": "missing.csv"}})", folder_)),
            "\"motion.trace\": " + (folder_ / "missing.csv").string() + ": is not a readable file");
}

}  // namespace
}  // namespace tavero::platform
