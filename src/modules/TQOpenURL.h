// The URL module. It keeps the record of the URL that last opened the
// application (pages see it as device.scheme).
//
// Thread rules: scheme() and setScheme() from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <string_view>

#include "bridge/TQW3CAction.h"
#include "host/PageDeviceInformation.h"

namespace tavero::modules {

class TQOpenURL : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQOpenURL";

  // Absent until the first incoming URL; then always the latest one.
  std::optional<host::IncomingURLRecord> scheme() const;
  void setScheme(host::IncomingURLRecord record);

 private:
  mutable std::mutex schemeMutex_;  // guards scheme_
  std::optional<host::IncomingURLRecord> scheme_;
};

}  // namespace tavero::modules
