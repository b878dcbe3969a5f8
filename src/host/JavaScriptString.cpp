#include "host/JavaScriptString.h"

#include <cstdio>

namespace tavero::host {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0.
size_t utf8SequenceLength(std::string_view s) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = byte(0);
  size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (length == 0 || s.size() < length) return 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c == 0xE0) low = 0xA0;
  if (c == 0xED) high = 0x9F;
  if (c == 0xF0) low = 0x90;
  if (c == 0xF4) high = 0x8F;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

}  // namespace

std::string escapeForJavaScriptString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t length = utf8SequenceLength(text.substr(i));
      if (length == 0) {
        out += "\\uFFFD";
        ++i;
        continue;
      }
      std::string_view sequence = text.substr(i, length);
      // Line and paragraph separators end a string literal in older engines.
      if (sequence == "\xE2\x80\xA8")
        out += "\\u2028";
      else if (sequence == "\xE2\x80\xA9")
        out += "\\u2029";
      else
        out += sequence;
      i += length;
      continue;
    }
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\x3C"; break;  // no "</script>" if the script lands in HTML
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out;
}

}  // namespace tavero::host
