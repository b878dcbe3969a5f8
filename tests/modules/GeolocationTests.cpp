// The geolocation module on a hand-driven location service and manual
// timers: position objects, the one-off request and its deadline, watches
// and their timer, and what happens when the module goes away.
#include <gtest/gtest.h>

#include "modules/SensorFakes.h"
#include "modules/TQGeolocation.h"
#include "support/ManualTimers.h"

namespace tavero::modules {
namespace {

using namespace testing;
using std::chrono::milliseconds;

platform::LocationFix fixAt(double latitude, double longitude, double timestamp = 1.5) {
  return platform::LocationFix{latitude, longitude, 35, 5, 10, 90, 1.25, timestamp};
}

class GeolocationTest : public ::testing::Test {
 protected:
  RecordingDelivery delivery;
  FakeLocationService location;
  tavero::testing::ManualTimers timers;
  std::unique_ptr<TQGeolocation> geolocation = std::make_unique<TQGeolocation>(delivery, location, timers);

  void run(void (TQGeolocation::*operation)(bridge::Invocation&),
           std::initializer_list<std::pair<const char*, const char*>> keys) {
    auto invocation = call(keys);
    (geolocation.get()->*operation)(invocation);
  }
};

TEST(PositionObject, CarriesTheCoordinatesAllSevenNumbersAndTheTimeInMilliseconds) {
  json::Value position = TQGeolocation::dictionaryFromLocation(
      platform::LocationFix{48.5, 2.25, 35.5, 5, -1, 270, 1.25, 1.5});
  EXPECT_EQ(text(position),
            "[{ \"coords\" : { \"latitude\" : 48.5, \"longitude\" : 2.25, \"altitude\" : 35.5, \"accuracy\" : 5, "
            "\"altitudeAccuracy\" : -1, \"heading\" : 270, \"speed\" : 1.25}, \"timestamp\" : 1500}]");
}

TEST_F(GeolocationTest, ASavedPositionAnswersAtOnceEvenLongAfterClearWatch) {
  run(&TQGeolocation::watchPosition, {{"success", "1"}, {"frequency", "1000"}});
  location.report(fixAt(48.5, 2.25));
  run(&TQGeolocation::clearWatch, {});
  EXPECT_FALSE(location.updating);
  run(&TQGeolocation::getCurrentPosition, {{"success", "4"}, {"failure", "5"}});
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 4);
  EXPECT_EQ(answers[0].page, "");  // the start page
  EXPECT_EQ(answers[0].value.asObject().find("coords")->asObject().find("latitude")->toDouble(), 48.5);
  EXPECT_EQ(location.starts, 1);  // not started again for the request
}

TEST_F(GeolocationTest, ARequestWithoutAPositionIsAnsweredByTheFirstReportOrFailsAtItsDeadline) {
  run(&TQGeolocation::getCurrentPosition, {{"success", "4"}, {"failure", "5"}});
  EXPECT_TRUE(location.updating);
  EXPECT_EQ(delivery.count(), 0u);
  ASSERT_EQ(timers.active().size(), 1u);
  EXPECT_EQ(timers.active()[0].interval, TQGeolocation::kCurrentPositionLimit);

  location.report(fixAt(1, 2));
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 4);
  EXPECT_TRUE(timers.active().empty());  // the deadline went with the answer

  // A second module instance with no position at all runs into the deadline.
  FakeLocationService silent;
  TQGeolocation other(delivery, silent, timers);
  auto request = call({{"success", "6"}, {"failure", "7"}});
  other.getCurrentPosition(request);
  timers.fireAll();
  answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 7);
  EXPECT_EQ(answers[0].value, json::Value("Failed to retrieve current location"));
  silent.report(fixAt(1, 2));  // too late: the request is answered once only
  EXPECT_EQ(delivery.count(), 0u);
  EXPECT_TRUE(silent.updating);  // a request leaves the service running
}

TEST_F(GeolocationTest, AnswersGoToThePageThatAsked) {
  run(&TQGeolocation::getCurrentPosition, {{"success", "4"}, {"__source", "file:///app/webapp/map.html"}});
  run(&TQGeolocation::watchPosition, {{"success", "5"}, {"__source", "file:///app/webapp/track.html#x"}});
  location.report(fixAt(1, 2));
  timers.fire(timers.active().back().id);
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].page, "map.html");
  EXPECT_EQ(answers[1].page, "track.html");
}

TEST_F(GeolocationTest, APagesWatchAndRequestsEndWithItsDocumentAndOthersGoOn) {
  run(&TQGeolocation::watchPosition, {{"success", "5"}, {"frequency", "1000"}, {"__source", "file:///a/webapp/track.html"}});
  run(&TQGeolocation::getCurrentPosition, {{"success", "6"}, {"__source", "file:///a/webapp/track.html"}});
  run(&TQGeolocation::getCurrentPosition, {{"success", "7"}, {"__source", "file:///a/webapp/map.html"}});
  ASSERT_EQ(timers.active().size(), 3u);  // the watch and two deadlines

  geolocation->pageDocumentEnded("track.html");
  ASSERT_EQ(timers.active().size(), 1u);  // map.html's deadline
  EXPECT_TRUE(location.updating);         // map.html still waits for a position
  location.report(fixAt(1, 2));
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 7);

  run(&TQGeolocation::watchPosition, {{"success", "8"}, {"frequency", "1000"}, {"__source", "file:///a/webapp/map.html"}});
  geolocation->pageDocumentEnded("map.html");
  EXPECT_TRUE(timers.active().empty());
  EXPECT_FALSE(location.updating);  // nothing needs the service any more
}

TEST_F(GeolocationTest, DisabledLocationServicesFailRequestsAndWatchesWithoutATimer) {
  location.enabled = false;
  run(&TQGeolocation::getCurrentPosition, {{"success", "4"}, {"failure", "5"}});
  run(&TQGeolocation::watchPosition, {{"success", "6"}, {"failure", "7"}, {"frequency", "100"}});
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].id, 5);
  EXPECT_EQ(answers[0].value, json::Value("Failed to start location services"));
  EXPECT_EQ(answers[1].id, 7);
  EXPECT_EQ(location.starts, 0);
  EXPECT_TRUE(timers.active().empty());
}

TEST_F(GeolocationTest, AServiceThatCannotStartFailsTheWaitingRequestAndTheWatchAtOnce) {
  run(&TQGeolocation::getCurrentPosition, {{"success", "4"}, {"failure", "5"}});
  run(&TQGeolocation::watchPosition, {{"success", "6"}, {"failure", "7"}, {"frequency", "100"}});
  EXPECT_EQ(delivery.count(), 0u);
  location.fail("The name org.freedesktop.GeoClue2 was not provided by any .service files");
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].id, 5);
  EXPECT_EQ(answers[0].value, json::Value("Failed to start location services"));
  EXPECT_EQ(answers[1].id, 7);
  EXPECT_EQ(answers[1].value, json::Value("Failed to start location services"));
  EXPECT_TRUE(timers.active().empty());  // neither the deadline nor the watch's timer is left
  timers.fireAll();
  EXPECT_EQ(delivery.count(), 0u);

  run(&TQGeolocation::getCurrentPosition, {{"success", "8"}, {"failure", "9"}});
  answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 9);
}

TEST_F(GeolocationTest, AFailureBetweenTheStartAndTheRequestIsNotMissed) {
  location.failWhenStarted = true;
  run(&TQGeolocation::getCurrentPosition, {{"success", "4"}, {"failure", "5"}});
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 5);
  EXPECT_TRUE(timers.active().empty());

  location.enabled = true;
  run(&TQGeolocation::watchPosition, {{"success", "6"}, {"failure", "7"}, {"frequency", "100"}});
  answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 7);
  EXPECT_TRUE(timers.active().empty());
}

TEST_F(GeolocationTest, AWatchRepeatsTheSavedPositionEveryPeriodAndASecondWatchReplacesTheFirst) {
  run(&TQGeolocation::watchPosition, {{"success", "1"}, {"failure", "2"}, {"frequency", "1000"},
                                      {"allowHighAccuracy", "true"}});
  EXPECT_EQ(location.accuracy, platform::LocationAccuracy::Best);
  ASSERT_EQ(timers.active().size(), 1u);
  EXPECT_EQ(timers.active()[0].interval, milliseconds(1000));
  EXPECT_TRUE(timers.active()[0].repeats);

  timers.fireAll();  // no position yet: nothing
  EXPECT_EQ(delivery.count(), 0u);
  location.report(fixAt(48.5, 2.25));
  timers.fireAll();
  timers.fireAll();
  location.report(fixAt(10, 20));
  timers.fireAll();
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0].value, answers[1].value);  // the same position until a new one
  EXPECT_EQ(answers[2].value.asObject().find("coords")->asObject().find("latitude")->toDouble(), 10);

  run(&TQGeolocation::watchPosition, {{"success", "8"}, {"failure", "9"}, {"frequency", "250"}});
  ASSERT_EQ(timers.active().size(), 1u);
  EXPECT_EQ(timers.active()[0].interval, milliseconds(250));
  EXPECT_EQ(location.starts, 1);  // a running service is not restarted
  timers.fireAll();
  answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 8);
}

TEST_F(GeolocationTest, AWatchWithoutAPeriodTicksEveryTenMillisecondsNotInABusyLoop) {
  run(&TQGeolocation::watchPosition, {{"success", "1"}, {"frequency", "0"}});
  ASSERT_EQ(timers.active().size(), 1u);
  EXPECT_EQ(timers.active()[0].interval, milliseconds(10));
  run(&TQGeolocation::watchPosition, {{"success", "1"}});
  EXPECT_EQ(timers.active()[0].interval, milliseconds(10)) << "no frequency";
}

// A negative or unreadable period or age fails the new watch through its
// failure callback, and the watch already running keeps its period.
TEST_F(GeolocationTest, AWatchWithAPeriodOrAgeOutOfRangeIsRefusedAndTheRunningOneGoesOn) {
  run(&TQGeolocation::watchPosition, {{"success", "1"}, {"failure", "2"}, {"frequency", "500"}});
  const std::pair<const char*, const char*> refused[] = {
      {"frequency", "-5"}, {"frequency", "-2147483648"}, {"frequency", "junk"}, {"frequency", "2147483648"},
      {"maximumAge", "-1"}, {"maximumAge", "1e3"}};
  for (auto [key, value] : refused) {
    run(&TQGeolocation::watchPosition, {{"success", "3"}, {"failure", "4"}, {key, value}});
    auto answers = delivery.take();
    ASSERT_EQ(answers.size(), 1u) << key << " " << value;
    EXPECT_EQ(answers[0].id, 4);
    EXPECT_EQ(answers[0].value.asString().rfind(std::string("Refused: ") + key + " must be ", 0), 0u)
        << answers[0].value.asString();
    ASSERT_EQ(timers.active().size(), 1u);
    EXPECT_EQ(timers.active()[0].interval, milliseconds(500)) << key << " " << value;
  }
  location.report(fixAt(1, 2));
  timers.fireAll();
  auto answers = delivery.take();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 1);  // the first watch's callback, not a refused one's
}

TEST_F(GeolocationTest, ClearWatchEndsTheWatchEvenWithLocationServicesDisabled) {
  run(&TQGeolocation::watchPosition, {{"success", "1"}, {"frequency", "100"}});
  location.report(fixAt(1, 2));
  location.enabled = false;  // switched off while the watch runs
  run(&TQGeolocation::clearWatch, {});
  EXPECT_TRUE(timers.active().empty());
  EXPECT_FALSE(location.updating);
  timers.fireAll();
  EXPECT_EQ(delivery.count(), 0u);
}

TEST_F(GeolocationTest, AModuleThatGoesAwayLeavesNoTimerNoRequestAndNoDelegateBehind) {
  run(&TQGeolocation::watchPosition, {{"success", "1"}, {"frequency", "100"}});
  run(&TQGeolocation::getCurrentPosition, {{"success", "2"}, {"failure", "3"}});
  ASSERT_EQ(timers.active().size(), 2u);
  geolocation.reset();
  EXPECT_TRUE(timers.active().empty());
  EXPECT_FALSE(location.delegate);
  EXPECT_FALSE(location.updating);
  EXPECT_EQ(delivery.count(), 0u);
}

}  // namespace
}  // namespace tavero::modules
