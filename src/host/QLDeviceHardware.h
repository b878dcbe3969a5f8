// The device's hardware model as pages see it: the model code and the model
// name made from it. Phone and tablet codes (which a device profile may set
// to simulate that device) get their product names; the PC codes "i386" and
// "x86_64" get the device's generic model text; other codes are shown as they
// are.
//
// Immutable after construction: any thread may call it.
#pragma once

#include <string>

#include "platform/DeviceInfo.h"

namespace tavero::host {

class QLDeviceHardware {
 public:
  explicit QLDeviceHardware(platform::DeviceInfo device);

  // The hardware model code, e.g. "x86_64" or "iPhone4,1".
  const std::string& platform() const { return device_.modelCode; }
  // The model name for platform(), e.g. "iPhone 4S" or "Linux desktop".
  std::string platformString() const;

  const platform::DeviceInfo& device() const { return device_; }

 private:
  platform::DeviceInfo device_;
};

}  // namespace tavero::host
