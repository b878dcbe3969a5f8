#include "modules/files/FileLocks.h"

#include <functional>

namespace tavero::modules::files {

std::shared_mutex& FileLocks::lockFor(dev_t device, ino_t inode) {
  size_t hash = std::hash<ino_t>{}(inode) * 31 + std::hash<dev_t>{}(device);
  return stripes_[hash % stripes_.size()];
}

}  // namespace tavero::modules::files
