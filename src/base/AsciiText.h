// ASCII letter case, for names that protocols and formats compare without
// regard to case (URL schemes, HTTP headers, SQL keywords, vCard
// properties, host names): only A-Z and a-z change; every other byte,
// UTF-8 included, stays as it is whatever the process's locale.
#pragma once

#include <string>
#include <string_view>

namespace tavero::base {

constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string asciiLowercased(std::string_view text);

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// `text` without the ASCII white space (space, tab, line breaks, vertical
// tab, form feed) at either end.
std::string_view trimAsciiWhiteSpace(std::string_view text);

}  // namespace tavero::base
