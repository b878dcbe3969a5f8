// Numbers as sensor readings carry them: fixed notation with six digits
// after the point ("0.500000", "-1.000000"; "nan" and "inf" for those), the
// same in every locale.
#pragma once

#include <string>

namespace tavero::modules {

std::string fixedPointText(double value);

}  // namespace tavero::modules
