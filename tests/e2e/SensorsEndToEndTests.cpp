// Position, motion and the network status in the real web view: a page
// watches them through the page-side scripts while the test plays the
// device through the same commands as `tavero device`.
#include <cmath>

#include "e2e/EndToEndFixture.h"

namespace tavero::app::e2e {
namespace {

using SensorsEndToEnd = EndToEndTest;

const json::Value* field(const std::optional<json::Object>& verdict, const char* key) {
  return verdict ? verdict->find(key) : nullptr;
}

// The last element of the array under `key`, or null.
json::Value last(const std::optional<json::Object>& verdict, const char* key) {
  const json::Value* list = field(verdict, key);
  if (!list || !list->isArray() || list->asArray().empty()) return {};
  return list->asArray().back();
}

bool isNumber(const json::Value& value, double expected) { return value.isNumber() && value.toDouble() == expected; }

TEST_F(SensorsEndToEnd, APageFollowsPositionMotionOrientationAndTheNetworkAsTheDeviceChanges) {
  auto shell = makeShell("sensors-app");
  ASSERT_TRUE(shell->launch());
  auto& commands = shell->controlCommands();
  auto command = [&](std::vector<std::string> words) {
    auto answer = commands.run(words);
    EXPECT_TRUE(answer.ok()) << (answer.ok() ? "" : answer.errorMessage());
  };
  std::optional<json::Object> verdict;
  auto waitFor = [&](const std::function<bool()>& seen) {
    return serveUntil(*shell, [&] { return (verdict = probe_ ? probe_->verdict() : std::nullopt) && seen(); });
  };

  command({"geo", "fix", "48.5", "2.25", "35", "8"});
  ASSERT_TRUE(waitFor([&] { return isNumber(last(verdict, "positions"), 48.5); }))
      << (verdict ? text(*verdict) : "no report");
  const json::Value* fields = field(verdict, "positionFields");
  ASSERT_TRUE(fields && fields->isObject());
  EXPECT_EQ(fields->asObject().find("longitude")->toDouble(), 2.25);
  EXPECT_EQ(fields->asObject().find("accuracy")->toDouble(), 8);
  EXPECT_TRUE(fields->asObject().find("heading")->isNull());  // the device reports no course
  EXPECT_EQ(*fields->asObject().find("recent"), json::Value(true));
  EXPECT_EQ(fields->asObject().find("altitude")->toDouble(), 35);
  EXPECT_EQ(fields->asObject().find("altitudeAccuracy")->toDouble(), 10);
  ASSERT_TRUE(waitFor([&] { return field(verdict, "zeroTimeout")->asArray().size() == 5; })) << text(*verdict);
  for (const json::Value& outcome : field(verdict, "zeroTimeout")->asArray())
    EXPECT_TRUE(isNumber(outcome, 3)) << text(*verdict);  // TIMEOUT, never the saved position

  command({"geo", "fix", "-33.75", "151.25"});
  EXPECT_TRUE(waitFor([&] { return isNumber(last(verdict, "positions"), -33.75); }));
  // The watch repeats the same position every tick; the page hears each one once.
  EXPECT_EQ(field(verdict, "positions")->asArray().size(), 2u) << text(*verdict);
  // A fix without an altitude: the page sees none, and no accuracy for it.
  fields = field(verdict, "positionFields");
  EXPECT_TRUE(fields->asObject().find("altitude")->isNull()) << text(*verdict);
  EXPECT_TRUE(fields->asObject().find("altitudeAccuracy")->isNull()) << text(*verdict);

  command({"sensor", "accel", "0", "0.5", "-1"});
  EXPECT_TRUE(waitFor([&] {
    const json::Value* y = field(verdict, "accelerationY");
    return y && y->isNumber() && y->toDouble() == 0.5 && *field(verdict, "gravityZ") == json::Value(true);
  })) << text(*verdict);

  command({"sensor", "attitude", std::to_string(M_PI / 2), "0", "0"});
  EXPECT_TRUE(waitFor([&] {
    const json::Value* alpha = field(verdict, "alpha");
    return alpha && alpha->isNumber() && std::abs(alpha->toDouble() - 90) < 1e-4;
  })) << text(*verdict);

  for (auto [status, heard] : {std::pair<const char*, const char*>{"cell", "CELL_3G online"},
                               {"none", "NONE offline"}, {"wifi", "WIFI online"}}) {
    command({"network", status});
    EXPECT_TRUE(waitFor([&] { return last(verdict, "connection") == json::Value(heard); }))
        << status << ": " << text(*verdict);
  }
  EXPECT_EQ(field(verdict, "errors")->asArray().size(), 0u) << text(*verdict);
  shell->terminate();
}

TEST_F(SensorsEndToEnd, APageHearsWhyNoPositionComesWhenLocationServicesAreOff) {
  auto shell = makeShell("sensors-app");
  ASSERT_TRUE(shell->controlCommands().run({"geo", "disable"}).ok());
  ASSERT_TRUE(shell->launch());
  std::optional<json::Object> verdict;
  ASSERT_TRUE(serveUntil(*shell, [&] {
    return (verdict = probe_ ? probe_->verdict() : std::nullopt) && last(verdict, "errors").isString();
  }));
  EXPECT_EQ(last(verdict, "errors"), json::Value("2 Failed to start location services"));
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
