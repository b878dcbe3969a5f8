#include "modules/TQOpenURL.h"

namespace tavero::modules {

std::optional<host::IncomingURLRecord> TQOpenURL::scheme() const {
  std::lock_guard lock(schemeMutex_);
  return scheme_;
}

void TQOpenURL::setScheme(host::IncomingURLRecord record) {
  std::lock_guard lock(schemeMutex_);
  scheme_ = std::move(record);
}

}  // namespace tavero::modules
