// The machine's own position through GeoClue (the system's location
// service on D-Bus), for `tavero run --location system`. GeoClue decides
// where positions come from (GPS, Wi-Fi networks, the IP address) and may
// ask the user through its agent.
//
// Location services count as enabled until GeoClue cannot be reached or
// refuses this app (no D-Bus system bus, no geoclue service, access denied):
// then the failure delegate hears why, and from then on requests and
// watches fail to start. Fixes carry GeoClue's
// latitude, longitude, accuracy, altitude, speed, heading and timestamp;
// GeoClue gives no vertical accuracy, so it is -1 (altitude unknown) unless
// an altitude is known, then it is the horizontal accuracy.
//
// Thread rules: any thread. GeoClue's client lives on the main thread
// (start and stop are posted there), and the delegate is called there.
#pragma once

#include <memory>
#include <string>

#include "base/MainThread.h"
#include "platform/LocationService.h"

namespace tavero::platform {

class GeoClueLocationService : public LocationService {
 public:
  // `desktopId` names the app to GeoClue (its .desktop file name, here the
  // bundle identifier). `mainThread` must outlive this object.
  GeoClueLocationService(base::MainThread& mainThread, std::string desktopId);
  ~GeoClueLocationService() override;

  bool locationServicesEnabled() const override;
  void setDesiredAccuracy(LocationAccuracy accuracy) override;
  void setDelegate(Delegate delegate) override;
  void setFailureDelegate(FailureDelegate delegate) override;
  void startUpdatingLocation() override;
  void stopUpdatingLocation() override;

 private:
  struct State;
  base::MainThread& mainThread_;
  std::shared_ptr<State> state_;
};

}  // namespace tavero::platform
