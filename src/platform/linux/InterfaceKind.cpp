#include "platform/linux/InterfaceKind.h"

#include <fstream>
#include <string>

namespace tavero::platform {

InterfaceKind interfaceKind(const std::filesystem::path& sysfsNet, std::string_view name) {
  // Interface names never hold '/', but a name must not lead anywhere else.
  if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
    return InterfaceKind::Other;
  }
  std::filesystem::path folder = sysfsNet / std::string(name);
  std::ifstream uevent(folder / "uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    if (line == "DEVTYPE=wlan") return InterfaceKind::Wireless;
    if (line == "DEVTYPE=wwan") return InterfaceKind::MobileBroadband;
  }
  std::error_code ignored;
  if (std::filesystem::is_directory(folder / "wireless", ignored)) return InterfaceKind::Wireless;
  return InterfaceKind::Other;
}

}  // namespace tavero::platform
