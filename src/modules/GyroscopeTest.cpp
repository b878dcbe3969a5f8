#include "modules/GyroscopeTest.h"

#include <charconv>

namespace tavero::modules {

bool gyroscopeUsable(std::string_view systemVersion, const platform::MotionService& motion) {
  double version = 0;
  std::from_chars(systemVersion.data(), systemVersion.data() + systemVersion.size(), version,
                  std::chars_format::fixed);
  return version >= 4.0 && motion.isGyroAvailable();
}

}  // namespace tavero::modules
