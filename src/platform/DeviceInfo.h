// What the device is: its name, model and OS version, and the hardware
// address that the device's unique identifier is made from. Read once at
// start-up (from the machine, then changed by a device profile if the
// developer gave one) and read-only afterwards, so any thread may read it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::platform {

using MacAddress = std::array<uint8_t, 6>;

struct DeviceInfo {
  std::string name;           // user-visible device name (host name on Linux)
  std::string modelCode;      // hardware model code (`uname -m` on Linux, e.g. "x86_64")
  std::string genericModel;   // generic model text, e.g. "Linux desktop"
  std::string systemVersion;  // the OS version text
  std::optional<MacAddress> macAddress;  // primary network interface's hardware address
};

// Six two-digit hex groups separated by ':' ("aa:bb:cc:dd:ee:ff", either
// case, surrounding white space allowed). nullopt for any other text and for
// the all-zero address, which no real interface owns.
std::optional<MacAddress> parseMacAddress(std::string_view text);

}  // namespace tavero::platform
