// GeoClue where no system bus answers: the service must say so through its
// failure delegate as soon as GeoClue's client fails, not leave a started
// request waiting.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "platform/linux/GeoClueLocationService.h"
#include "platform/linux/GLibMainThread.h"

namespace tavero::platform {
namespace {

TEST(GeoClueLocationService, WithNoBusToReachItReportsTheFailureAndTurnsOff) {
  // Read when the process first connects to the system bus: nothing else
  // in this program does.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tavero-test-bus", 1);
  GLibMainThread mainThread;
  GeoClueLocationService location(mainThread, "org.example.tavero-test");
  EXPECT_TRUE(location.locationServicesEnabled());
  std::string reason;
  bool fixed = false;
  location.setDelegate([&](const LocationFix&) { fixed = true; });
  location.setFailureDelegate([&](const std::string& why) { reason = why; });
  location.startUpdatingLocation();
  EXPECT_TRUE(mainThread.runUntil([&] { return !reason.empty(); }, std::chrono::seconds(10)));
  EXPECT_FALSE(location.locationServicesEnabled());
  EXPECT_FALSE(fixed);
  location.setFailureDelegate({});
  location.setDelegate({});
}

}  // namespace
}  // namespace tavero::platform
