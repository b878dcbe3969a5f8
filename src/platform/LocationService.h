// The device's position service: whether it is enabled, starting and
// stopping position updates, and the fixes it reports while started.
//
// Thread rules: every method from any thread. The delegate is called on a
// thread of the service's own, never inline from a method of this
// interface; setDelegate() replaces it and, once it returns, the previous
// delegate is not running and is never called again (do not call it from
// inside the delegate).
#pragma once

#include <functional>
#include <string>

namespace tavero::platform {

// One position fix. Negative accuracies, course or speed mean "not known",
// as the service reports them.
struct LocationFix {
  double latitude = 0;             // degrees, north positive
  double longitude = 0;            // degrees, east positive
  double altitude = 0;             // metres above sea level
  double horizontalAccuracy = -1;  // metres
  double verticalAccuracy = -1;    // metres
  double course = -1;              // degrees clockwise from true north
  double speed = -1;               // metres per second
  double timestamp = 0;            // seconds since 1970-01-01 00:00 UTC

  bool operator==(const LocationFix&) const = default;
};

enum class LocationAccuracy { Best, NearestTenMeters };

class LocationService {
 public:
  using Delegate = std::function<void(const LocationFix&)>;
  using FailureDelegate = std::function<void(const std::string& reason)>;

  virtual ~LocationService() = default;

  virtual bool locationServicesEnabled() const = 0;
  virtual void setDesiredAccuracy(LocationAccuracy accuracy) = 0;
  virtual void setDelegate(Delegate delegate) = 0;
  // Told, with the reason, when started updates turn out to be impossible
  // (the system's service cannot be reached or refuses the app); by then
  // locationServicesEnabled() is false. Same rules as setDelegate(). A
  // service that, once enabled, always starts never calls it.
  virtual void setFailureDelegate(FailureDelegate delegate) { (void)delegate; }
  // While started, every new fix goes to the delegate (a started service
  // that already knows a position reports it soon after the start).
  virtual void startUpdatingLocation() = 0;
  virtual void stopUpdatingLocation() = 0;
};

}  // namespace tavero::platform
