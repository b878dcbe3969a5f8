#include "host/JavaScriptString.h"

#include "json/Hex.h"
#include "json/Utf8.h"

namespace tavero::host {

std::string escapeForJavaScriptString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t length = json::utf8SequenceLength(text.substr(i));
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
          out += "\\x";
          json::appendHex(out, c, json::HexCase::upper);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out;
}

}  // namespace tavero::host
