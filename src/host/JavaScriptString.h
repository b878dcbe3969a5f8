// Putting text into scripts safely.
#pragma once

#include <string>
#include <string_view>

namespace tavero::host {

// `text` escaped for use between quotes (single or double) in a JavaScript
// string literal: a device name with an apostrophe, or an incoming URL made
// to break out of the string, stays text and never becomes script. Bytes
// that are not valid UTF-8 become U+FFFD.
std::string escapeForJavaScriptString(std::string_view text);

}  // namespace tavero::host
