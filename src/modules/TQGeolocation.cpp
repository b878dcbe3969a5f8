#include "modules/TQGeolocation.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "log/Log.h"
#include "modules/OptionCheck.h"

namespace tavero::modules {

struct TQGeolocation::State {
  explicit State(bridge::CallbackDelivery& delivery) : callbacks(delivery) {}

  bridge::CallbackDelivery& callbacks;

  // A getCurrentPosition waiting for a first position.
  struct PendingRequest {
    int32_t success;
    int32_t failure;
    std::string page;
    std::unique_ptr<base::Timer> deadline;
  };

  std::mutex mutex;  // guards every field below
  int32_t success = 0;
  int32_t failure = 0;
  std::string page;  // the page of the latest watch; empty: the start page
  int32_t frequency = 0;
  int32_t maximumAge = 0;       // kept from the watch; nothing depends on it
  bool allowHighAccuracy = false;
  json::Value timeout;           // kept from the watch; nothing depends on it
  std::optional<platform::LocationFix> savedLocation;
  bool locationIsRunning = false;
  std::unique_ptr<base::Timer> timer;
  uint64_t lastRequest = 0;
  std::map<uint64_t, PendingRequest> pending;
};

TQGeolocation::TQGeolocation(bridge::CallbackDelivery& callbacks, platform::LocationService& location,
                             base::MainLoopTimers& timers)
    : location_(location), timers_(timers), state_(std::make_shared<State>(callbacks)) {
  addOperation("getCurrentPosition", [this](bridge::Invocation& call) { getCurrentPosition(call); });
  addOperation("watchPosition", [this](bridge::Invocation& call) { watchPosition(call); });
  addOperation("clearWatch", [this](bridge::Invocation& call) { clearWatch(call); });
  location_.setDelegate([weak = std::weak_ptr<State>(state_)](const platform::LocationFix& location) {
    locationDidUpdate(weak, location);
  });
  location_.setFailureDelegate([weak = std::weak_ptr<State>(state_)](const std::string& reason) {
    log::warning("TQGeolocation: location services failed to start: " + reason);
    locationFailed(weak);
  });
}

TQGeolocation::~TQGeolocation() {
  location_.setDelegate({});  // waits for a report in progress
  location_.setFailureDelegate({});
  location_.stopUpdatingLocation();
  std::unique_ptr<base::Timer> timer;
  std::map<uint64_t, State::PendingRequest> pending;
  {
    std::lock_guard lock(state_->mutex);
    timer = std::move(state_->timer);
    pending = std::move(state_->pending);
  }
  // Timers are cancelled outside the lock; a tick that still runs finds the
  // state gone through its weak handle once state_ is released.
}

json::Value TQGeolocation::dictionaryFromLocation(const platform::LocationFix& location) {
  json::Object coords;
  coords.append("latitude", location.latitude);
  coords.append("longitude", location.longitude);
  coords.append("altitude", location.altitude);
  coords.append("accuracy", location.horizontalAccuracy);
  coords.append("altitudeAccuracy", location.verticalAccuracy);
  coords.append("heading", location.course);
  coords.append("speed", location.speed);
  json::Object position;
  position.append("coords", std::move(coords));
  position.append("timestamp", location.timestamp * 1000.0);
  return position;
}

bool TQGeolocation::startUpdatingPosition() {
  if (!location_.locationServicesEnabled()) return false;
  bool best;
  {
    std::lock_guard lock(state_->mutex);
    best = state_->allowHighAccuracy;
  }
  location_.setDesiredAccuracy(best ? platform::LocationAccuracy::Best
                                    : platform::LocationAccuracy::NearestTenMeters);
  location_.startUpdatingLocation();
  std::lock_guard lock(state_->mutex);
  state_->locationIsRunning = true;
  return true;
}

void TQGeolocation::getCurrentPosition(bridge::Invocation& call) {
  int32_t success = call.integer("success");
  int32_t failure = call.integer("failure");
  std::string page = call.pageName();
  std::optional<platform::LocationFix> saved;
  {
    std::lock_guard lock(state_->mutex);
    saved = state_->savedLocation;
  }
  // A saved position answers at once, however old it is.
  if (saved) return state_->callbacks.invokeCallback(success, dictionaryFromLocation(*saved), page);
  if (!startUpdatingPosition()) return state_->callbacks.invokeCallback(failure, json::Value(kFailedToStart), page);
  // Wait for the first report without holding this thread: the report
  // answers the request, or the deadline fails it.
  {
    std::lock_guard lock(state_->mutex);
    if (state_->savedLocation) {
      return state_->callbacks.invokeCallback(success, dictionaryFromLocation(*state_->savedLocation), page);
    }
    uint64_t request = ++state_->lastRequest;
    auto deadline = timers_.schedule(kCurrentPositionLimit, false, [weak = std::weak_ptr<State>(state_), request] {
      currentPositionTimedOut(weak, request);
    });
    state_->pending[request] = State::PendingRequest{success, failure, std::move(page), std::move(deadline)};
  }
  // The service may have failed between the start and now, before this
  // request was there to hear it.
  if (!location_.locationServicesEnabled()) locationFailed(state_);
}

void TQGeolocation::locationFailed(const std::weak_ptr<State>& weak) {
  auto state = weak.lock();
  if (!state) return;
  std::map<uint64_t, State::PendingRequest> failed;
  std::unique_ptr<base::Timer> watch;
  int32_t watchFailure = 0;
  std::string watchPage;
  {
    std::lock_guard lock(state->mutex);
    failed.swap(state->pending);
    state->locationIsRunning = false;
    watch = std::move(state->timer);
    watchFailure = state->failure;
    watchPage = state->page;
  }
  for (auto& [request, pending] : failed) {
    pending.deadline.reset();
    state->callbacks.invokeCallback(pending.failure, json::Value(kFailedToStart), pending.page);
  }
  if (watch) {
    watch.reset();  // the watch ends: the page heard why
    state->callbacks.invokeCallback(watchFailure, json::Value(kFailedToStart), watchPage);
  }
}

void TQGeolocation::currentPositionTimedOut(const std::weak_ptr<State>& weak, uint64_t request) {
  auto state = weak.lock();
  if (!state) return;
  std::optional<State::PendingRequest> expired;
  {
    std::lock_guard lock(state->mutex);
    auto it = state->pending.find(request);
    if (it == state->pending.end()) return;  // a position answered it first
    expired = std::move(it->second);
    state->pending.erase(it);
  }
  state->callbacks.invokeCallback(expired->failure, json::Value(kFailedToRetrieve), expired->page);
}

void TQGeolocation::locationDidUpdate(const std::weak_ptr<State>& weak, const platform::LocationFix& location) {
  auto state = weak.lock();
  if (!state) return;
  std::map<uint64_t, State::PendingRequest> answered;
  {
    std::lock_guard lock(state->mutex);
    state->savedLocation = location;
    answered.swap(state->pending);
  }
  if (answered.empty()) return;
  json::Value position = dictionaryFromLocation(location);
  for (auto& [request, pending] : answered) {
    pending.deadline.reset();
    state->callbacks.invokeCallback(pending.success, position, pending.page);
  }
}

void TQGeolocation::watchPosition(bridge::Invocation& call) {
  // A negative period or age is refused, not read as "as often as possible".
  OptionCheck check(call, "geolocation");
  constexpr int64_t kLongest = INT32_MAX;
  check.integer("frequency", 0, 0, kLongest, "a number of milliseconds, 0 or more");
  check.integer("maximumAge", 0, 0, kLongest, "a number of milliseconds, 0 or more");
  if (check.refused()) {
    return state_->callbacks.invokeCallback(call.integer("failure"), json::Value(*check.refusal()), call.pageName());
  }
  bool running;
  int32_t frequency;
  int32_t failure;
  std::string page = call.pageName();
  {
    std::lock_guard lock(state_->mutex);
    state_->page = page;
    state_->success = call.integer("success");
    state_->failure = failure = call.integer("failure");
    state_->allowHighAccuracy = call.flag("allowHighAccuracy");
    state_->frequency = frequency = call.integer("frequency");
    state_->maximumAge = call.integer("maximumAge");
    const json::Value* timeout = call.arguments().find("timeout");
    state_->timeout = timeout ? *timeout : json::Value();
    running = state_->locationIsRunning;
  }
  // A running service is not restarted, so a new accuracy wish waits for
  // its next start.
  if (!running && !startUpdatingPosition()) {
    return state_->callbacks.invokeCallback(failure, json::Value(kFailedToStart), page);
  }
  auto period = std::max(std::chrono::milliseconds(frequency), kMinimumWatchPeriod);
  auto timer = timers_.schedule(period, true, [weak = std::weak_ptr<State>(state_)] { updateLocation(weak); });
  {
    std::lock_guard lock(state_->mutex);
    std::swap(state_->timer, timer);  // the earlier timer, if any, ends as `timer` goes
  }
  // As for getCurrentPosition: a failure before the watch was in place.
  if (!location_.locationServicesEnabled()) locationFailed(state_);
}

void TQGeolocation::updateLocation(const std::weak_ptr<State>& weak) {
  auto state = weak.lock();
  if (!state) return;
  std::optional<platform::LocationFix> saved;
  int32_t success;
  std::string page;
  {
    std::lock_guard lock(state->mutex);
    saved = state->savedLocation;
    success = state->success;
    page = state->page;
  }
  if (saved) state->callbacks.invokeCallback(success, dictionaryFromLocation(*saved), page);
}

void TQGeolocation::clearWatch(bridge::Invocation&) {
  // The watch ends even while location services are disabled: a page that
  // clears its watch must stop receiving positions.
  if (!location_.locationServicesEnabled()) {
    log::debug("TQGeolocation clearWatch: location services are disabled; ending the watch all the same");
  }
  location_.stopUpdatingLocation();
  std::unique_ptr<base::Timer> timer;
  std::lock_guard lock(state_->mutex);
  state_->locationIsRunning = false;
  timer = std::move(state_->timer);
}

}  // namespace tavero::modules

namespace tavero::modules {

void TQGeolocation::pageDocumentEnded(std::string_view pageName) {
  std::unique_ptr<base::Timer> watch;
  std::vector<std::unique_ptr<base::Timer>> deadlines;
  bool nothingLeft;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->timer && state_->page == pageName) watch = std::move(state_->timer);
    for (auto it = state_->pending.begin(); it != state_->pending.end();) {
      if (it->second.page != pageName) {
        ++it;
        continue;
      }
      deadlines.push_back(std::move(it->second.deadline));
      it = state_->pending.erase(it);
    }
    if (!watch && deadlines.empty()) return;
    nothingLeft = !state_->timer && state_->pending.empty();
    if (nothingLeft) state_->locationIsRunning = false;
  }
  // Timers are cancelled outside the lock (this is the main thread, where
  // ticks run: none comes after).
  if (nothingLeft) location_.stopUpdatingLocation();
  log::debug("TQGeolocation: the watch and requests of page \"" + std::string(pageName) +
             "\" ended with its document");
}

}  // namespace tavero::modules
