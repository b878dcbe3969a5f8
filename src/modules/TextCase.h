// Lower-casing text that pages show to users (button titles): every
// letter, not only ASCII ones ("OK" -> "ok", "ÄNDERN" -> "ändern").
#pragma once

#include <string>
#include <string_view>

namespace tavero::modules {

// `text` (UTF-8) with each character lower-cased by the Unicode simple
// case mapping. Bytes that are not valid UTF-8 are kept as they are.
// Any thread.
std::string lowercased(std::string_view text);

}  // namespace tavero::modules
