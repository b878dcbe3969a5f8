// The scheme of a URL ("https", "mailto", an app's own "myapp"): what
// decides which program opens it and whether a page may.
#pragma once

#include <string_view>

namespace tavero::base {

// Whether `text` is a URL scheme: a letter, then letters, digits, "+", "-"
// or "." (ASCII only).
bool isURLScheme(std::string_view text);

// The scheme of `url` as written, the text before its first ":"; empty when
// that is not a scheme (or there is no ":"). Schemes compare without regard
// to case: callers lower-case it with base::asciiLowercased.
std::string_view urlSchemeOf(std::string_view url);

}  // namespace tavero::base
