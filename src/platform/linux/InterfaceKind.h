// What kind of link a network interface is, from the kernel's description
// of it under /sys/class/net/<name>: DEVTYPE=wlan (or a wireless/ folder)
// is wireless, DEVTYPE=wwan mobile broadband, anything else other.
//
// Reads files only; any thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace tavero::platform {

enum class InterfaceKind { Wireless, MobileBroadband, Other };

// `sysfsNet` is the folder of interfaces (tests give a folder of their own).
InterfaceKind interfaceKind(const std::filesystem::path& sysfsNet, std::string_view name);

}  // namespace tavero::platform
