#include "bridge/BridgeQuery.h"

#include "json/JsonCodec.h"
#include "net/PercentDecoding.h"

namespace tavero::bridge {
namespace {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUTF8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > s.size()) return false;
    auto second = static_cast<unsigned char>(s[i + 1]);
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k) {
      auto next = static_cast<unsigned char>(s[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::optional<std::string> percentDecodeUTF8(std::string_view text) {
  auto decoded = net::percentDecode(text);
  if (!decoded || !isValidUTF8(*decoded)) return std::nullopt;
  return decoded;
}

std::variant<json::Object, QueryError> parseBridgeQuery(std::string_view query) {
  json::Object arguments;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);

    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key(piece.substr(0, eq));
    auto decoded = percentDecodeUTF8(piece.substr(eq + 1));
    if (!decoded) return QueryError{key, "its value is not percent-encoded UTF-8"};

    if (!decoded->empty() && decoded->front() == '[') {
      auto array = json::JsonCodec::arrayWithJSONString(*decoded);
      if (!array) return QueryError{key, "its value begins with \"[\" but is not a JSON array"};
      arguments.set(std::move(key), std::move(*array));
    } else if (!decoded->empty() && decoded->front() == '{') {
      auto object = json::JsonCodec::dictionaryWithJSONString(*decoded);
      if (!object) return QueryError{key, "its value begins with \"{\" but is not a JSON object"};
      arguments.set(std::move(key), std::move(*object));
    } else {
      arguments.set(std::move(key), std::move(*decoded));
    }
  }
  return arguments;
}

}  // namespace tavero::bridge
