// Percent-decoding of URL parts ("%41" becomes "A"; "+" is left alone).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavero::net {

// The decoded bytes, or nullopt when a "%" is not followed by two
// hexadecimal digits. The result may be any bytes, NUL included.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace tavero::net
