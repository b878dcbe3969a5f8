// The simulated location service: enabled or not, a fixed position, or a
// recorded track played in real time. The device profile and `tavero
// device geo ...` drive it; the geolocation module reads it through
// LocationService.
//
// Every fix is reported on the service's own reporter thread, stamped with
// the time it is reported. While updates are started, the reporter sends
// the current position at once and then each new one: a fix set with
// setFix(), or each point of a track when its time comes.
//
// Thread rules: every method from any thread (see LocationService.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/LocationService.h"
#include "platform/sim/LocationTrack.h"

namespace tavero::platform {

class SimulatedLocationService : public LocationService {
 public:
  // Seconds since 1970; fixes are stamped with it (tests replace it).
  using WallClock = std::function<double()>;

  explicit SimulatedLocationService(WallClock clock = {});
  ~SimulatedLocationService() override;

  SimulatedLocationService(const SimulatedLocationService&) = delete;
  SimulatedLocationService& operator=(const SimulatedLocationService&) = delete;

  // LocationService
  bool locationServicesEnabled() const override;
  void setDesiredAccuracy(LocationAccuracy accuracy) override;
  void setDelegate(Delegate delegate) override;
  void startUpdatingLocation() override;
  void stopUpdatingLocation() override;

  // Control (profile, `tavero device`).
  void setEnabled(bool enabled);
  // Ends any track and makes `fix` the position (its timestamp is ignored).
  void setFix(const LocationFix& fix);
  // Plays `track` from its first point now; ends any earlier track.
  void playTrack(LocationTrack track);

  struct Status {
    bool enabled;
    bool updating;
    LocationAccuracy accuracy;
    std::optional<LocationFix> position;
    size_t trackPointsLeft;
  };
  Status status() const;

 private:
  using SteadyClock = std::chrono::steady_clock;

  void reporterLoop();
  void deliver(const LocationFix& fix);

  WallClock clock_;

  mutable std::mutex mutex_;  // guards every field below up to the thread
  std::condition_variable wake_;
  bool enabled_ = true;
  bool updating_ = false;
  bool reportDue_ = false;  // the current position waits to be reported
  bool stopping_ = false;
  LocationAccuracy accuracy_ = LocationAccuracy::NearestTenMeters;
  std::optional<LocationFix> position_;
  LocationTrack track_;
  size_t nextTrackPoint_ = 0;
  SteadyClock::time_point trackStart_;

  std::mutex delegateMutex_;  // guards delegate_; held while it runs
  Delegate delegate_;

  std::thread reporter_;
};

}  // namespace tavero::platform
