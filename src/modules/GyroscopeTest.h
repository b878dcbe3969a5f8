// Whether the motion modules use the gyroscope: the system version, read as
// a number ("4.3.1" reads 4.3, text without a leading number reads 0), is
// at least 4.0 and the motion service has a gyroscope.
#pragma once

#include <string_view>

#include "platform/MotionService.h"

namespace tavero::modules {

bool gyroscopeUsable(std::string_view systemVersion, const platform::MotionService& motion);

}  // namespace tavero::modules
