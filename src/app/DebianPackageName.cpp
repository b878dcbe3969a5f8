#include "app/DebianPackageName.h"

#include <cstdio>

#include "base/AsciiText.h"

namespace tavero::app {

namespace {

bool isNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The character as the user would type it, or its code when it does not print.
std::string shown(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7f) return std::string("\"") + c + "\"";
  char code[16];
  std::snprintf(code, sizeof code, "byte 0x%02x", byte);
  return code;
}

std::string advice(char c) {
  if (c == '_') return "write \"-\" instead of \"_\"";
  if (c >= 'A' && c <= 'Z') return "write it in lower case";
  if (c == ' ') return "write \"-\" instead of spaces";
  return "use only lower-case letters, digits, \"+\", \"-\" and \".\"";
}

}  // namespace

std::string debianPackageNameFor(std::string_view bundleIdentifier) { return base::asciiLowercased(bundleIdentifier); }

std::optional<std::string> debianPackageNameProblem(std::string_view name) {
  if (name.size() < 2) return "a Debian package name needs two characters at least";
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (isNameCharacter(c)) continue;
    return "a Debian package name may not hold " + shown(c) + " (character " + std::to_string(i + 1) + "): " + advice(c);
  }
  if (!((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
    return "a Debian package name starts with a letter or digit, not " + shown(name[0]);
  return std::nullopt;
}

}  // namespace tavero::app
