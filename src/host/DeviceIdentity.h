// The device's unique identifier and the texts it is made from: the MD5 of
// the primary network interface's hardware address written as
// "00:1E:C2:AA:BB:0F". The same machine (or the same simulated address)
// always gives the same identifier.
//
// Pure functions; any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/DeviceInfo.h"

namespace tavero::host {

// The MD5 digest of `text` up to its first NUL byte, as 32 lower-case hex
// digits; nullopt when that leaves nothing to hash (or the digest is not
// available, which is logged).
std::optional<std::string> stringFromMD5(std::string_view text);

// The device's hardware address as six upper-case hex pairs separated by
// ':'; nullopt when the device has none.
std::optional<std::string> macAddressText(const platform::DeviceInfo& device);

// stringFromMD5(macAddressText(device)); nullopt when the device has no
// hardware address.
std::optional<std::string> uniqueGlobalDeviceIdentifier(const platform::DeviceInfo& device);

}  // namespace tavero::host
