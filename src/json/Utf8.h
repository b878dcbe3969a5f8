// UTF-8 checks for text that arrives from outside (queries, SQL columns).
#pragma once

#include <string>
#include <string_view>

namespace tavero::json {

// The length of the well-formed UTF-8 sequence at the start of `text`
// (1 to 4), or 0 when it does not start with one.
size_t utf8SequenceLength(std::string_view text);

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUTF8(std::string_view text);

// `text` with every byte that is not part of a well-formed sequence
// replaced by U+FFFD.
std::string withInvalidUTF8Replaced(std::string_view text);

}  // namespace tavero::json
