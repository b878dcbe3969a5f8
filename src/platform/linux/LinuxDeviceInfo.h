// The device information of the Linux machine the shell runs on.
//
// readLinuxDeviceInfo() reads the system (host name, uname, DMI chassis type,
// os-release, /proc/net/route, /sys/class/net). The other functions are the
// pieces it is made of; they take file texts or a folder, touch nothing
// else, and may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DeviceInfo.h"

namespace tavero::platform {

// The whole DeviceInfo of this machine. Parts that cannot be read take their
// fallbacks: name "localhost", genericModel "Linux device", systemVersion the
// kernel release, no macAddress (logged as a warning).
DeviceInfo readLinuxDeviceInfo();

// The generic model text for the SMBIOS chassis type code in `chassisTypeText`
// (the content of /sys/class/dmi/id/chassis_type, surrounding white space
// allowed): "Linux desktop", "Linux laptop", "Linux tablet", "Linux server",
// or "Linux device" for any other or unreadable code.
std::string genericModelForChassisType(std::string_view chassisTypeText);

// The value assigned to `key` in os-release text (KEY=value lines; the value
// may be in double quotes, with backslash escapes, or in single quotes, or
// bare). The last assignment wins, as when a shell reads the file. nullopt
// when the key is absent or its value's quote is never closed.
std::optional<std::string> osReleaseValue(std::string_view fileText, std::string_view key);

// The interface of the default IPv4 route in /proc/net/route text: among the
// rows whose Destination and Mask are both 00000000, the one with the lowest
// Metric (the first such row on a tie). nullopt when there is none.
std::optional<std::string> defaultRouteInterface(std::string_view procNetRoute);

// The hardware address of interface `name` under `sysClassNet`, if it is an
// Ethernet-type interface (type 1, which Wi-Fi reports too) with a non-zero
// 6-byte address.
std::optional<MacAddress> interfaceMacAddress(const std::filesystem::path& sysClassNet,
                                              std::string_view name);

// The primary interface's hardware address: the default route's interface
// when it has one (see interfaceMacAddress), else that of the first interface
// under `sysClassNet` by name, "lo" excluded, that has one: hardware
// interfaces (with a "device" entry) first, then virtual ones.
std::optional<MacAddress> primaryMacAddress(const std::filesystem::path& sysClassNet,
                                            std::string_view procNetRoute);

}  // namespace tavero::platform
