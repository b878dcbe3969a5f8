// The geolocation module: the device's position once (getCurrentPosition)
// or every `frequency` milliseconds (watchPosition, until clearWatch),
// delivered as position objects:
//   {"coords": {"latitude", "longitude", "altitude", "accuracy",
//               "altitudeAccuracy", "heading", "speed"}, "timestamp": ms}
// It keeps the location service running while a watch or a request needs
// it and remembers the latest position the service reported. Answers go to
// the page that asked (the page of the latest watch), or to the start page
// when the request names no page.
//
// Thread rules: operations from any thread. The location service reports
// on its own thread and watch ticks run on the main thread; the state they
// share is behind one mutex, and ticks and reports reach it through a weak
// handle, so nothing reaches a destroyed module. The destructor stops the
// service, the watch timer and pending requests.
//
// When the service reports that it cannot start, every request waiting for
// a position and the watch fail at once with kFailedToStart (the watch
// ends); later ones fail at once as the service is then disabled.
//
// A watch whose `frequency` or `maximumAge` is negative or not an integer
// is refused through its failure callback ("Refused: ...") and changes
// nothing: the watch before it, if any, goes on.
#pragma once

#include <chrono>
#include <memory>
#include <string_view>

#include "base/MainLoopTimers.h"
#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/LocationService.h"

namespace tavero::modules {

class TQGeolocation : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQGeolocation";
  static constexpr const char* kFailedToStart = "Failed to start location services";
  static constexpr const char* kFailedToRetrieve = "Failed to retrieve current location";
  // How long getCurrentPosition waits for a first position.
  static constexpr std::chrono::milliseconds kCurrentPositionLimit{12'000};
  // The shortest watch period: a watch with a `frequency` of 0, a negative
  // one or none ticks this often rather than in a busy loop.
  static constexpr std::chrono::milliseconds kMinimumWatchPeriod{10};

  // The services must outlive the module.
  TQGeolocation(bridge::CallbackDelivery& callbacks, platform::LocationService& location,
                base::MainLoopTimers& timers);
  ~TQGeolocation() override;

  void getCurrentPosition(bridge::Invocation& invocation);
  void watchPosition(bridge::Invocation& invocation);
  void clearWatch(bridge::Invocation& invocation);
  // The watch of page `pageName` and its waiting requests end (its
  // document went away: the next one sets its watch up anew); the service
  // stops when nothing else needs it. Main thread.
  void pageDocumentEnded(std::string_view pageName) override;

  static json::Value dictionaryFromLocation(const platform::LocationFix& location);

 private:
  struct State;

  bool startUpdatingPosition();
  static void updateLocation(const std::weak_ptr<State>& weak);
  static void locationDidUpdate(const std::weak_ptr<State>& weak, const platform::LocationFix& location);
  // The service cannot start: every waiting request and the watch fail.
  static void locationFailed(const std::weak_ptr<State>& weak);
  static void currentPositionTimedOut(const std::weak_ptr<State>& weak, uint64_t request);

  platform::LocationService& location_;
  base::MainLoopTimers& timers_;
  std::shared_ptr<State> state_;
};

}  // namespace tavero::modules
