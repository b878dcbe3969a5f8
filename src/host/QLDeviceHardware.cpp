#include "host/QLDeviceHardware.h"

#include <string_view>
#include <utility>

namespace tavero::host {
namespace {

struct ModelName {
  std::string_view code;
  std::string_view name;
};

// Known model codes; the first entry whose code matches gives the name.
constexpr ModelName knownModels[] = {
    {"iPhone1,1", "iPhone 1G"},     {"iPhone1,2", "iPhone 3G"},     {"iPhone2,1", "iPhone 3GS"},
    {"iPhone3,1", "iPhone 4"},      {"iPhone3,3", "iPhone 4"},      {"iPhone4,1", "iPhone 4S"},
    {"iPhone5,2", "iPhone 5"},      {"iPod1,1", "iPod Touch 1G"},   {"iPod2,1", "iPod Touch 2G"},
    {"iPod3,1", "iPod Touch 3G"},   {"iPod4,1", "iPod Touch 4G"},   {"iPod5,1", "iPod Touch 5G"},
    {"iPod5,2", "iPod Touch 5G"},   {"iPad1,1", "iPad"},            {"iPad2,1", "iPad 2"},
    {"iPad2,2", "iPad 2"},          {"iPad2,3", "iPad 2"},          {"iPad3,1", "iPad 3"},
};

bool isPersonalComputerCode(std::string_view code) { return code == "i386" || code == "x86_64"; }

}  // namespace

QLDeviceHardware::QLDeviceHardware(platform::DeviceInfo device) : device_(std::move(device)) {}

std::string QLDeviceHardware::platformString() const {
  std::string_view code = device_.modelCode;
  for (const ModelName& model : knownModels) {
    if (model.code == code) return std::string(model.name);
  }
  if (isPersonalComputerCode(code)) return device_.genericModel;
  return device_.modelCode;
}

}  // namespace tavero::host
