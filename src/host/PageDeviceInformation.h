// What a page learns about the device through its globals (window.device).
#pragma once

#include <optional>
#include <string>

namespace tavero::host {

// The URL that last opened the application, and the application that opened it.
struct IncomingURLRecord {
  std::string url;
  std::string sourceApplication;
  friend bool operator==(const IncomingURLRecord&, const IncomingURLRecord&) = default;
};

struct PageDeviceInformation {
  std::string platformName;             // the device model name
  std::string name;                     // the device's user-visible name
  std::optional<std::string> uuid;      // the device identifier, when there is one
  std::optional<IncomingURLRecord> scheme;
};

}  // namespace tavero::host
