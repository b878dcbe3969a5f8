#include "modules/TextCase.h"

#include <locale.h>
#include <wctype.h>

#include "base/AsciiText.h"
#include "json/Utf8.h"

namespace tavero::modules {
namespace {

// C.UTF-8 maps case for all of Unicode, whatever the user's locale is.
locale_t unicodeLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

char32_t decode(std::string_view sequence) {
  auto byte = [&](size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(sequence[i])); };
  switch (sequence.size()) {
    case 1: return byte(0);
    case 2: return ((byte(0) & 0x1f) << 6) | (byte(1) & 0x3f);
    case 3: return ((byte(0) & 0x0f) << 12) | ((byte(1) & 0x3f) << 6) | (byte(2) & 0x3f);
    default: return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3f) << 12) | ((byte(2) & 0x3f) << 6) | (byte(3) & 0x3f);
  }
}

void encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

}  // namespace

std::string lowercased(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  locale_t locale = unicodeLocale();
  while (!text.empty()) {
    size_t length = json::utf8SequenceLength(text);
    if (length == 0) {  // not UTF-8: keep the byte
      out += text.front();
      text.remove_prefix(1);
      continue;
    }
    char32_t c = decode(text.substr(0, length));
    if (c < 0x80) {
      out += base::asciiLower(static_cast<char>(c));
    } else {
      encode(locale ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale)) : c, out);
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace tavero::modules
