#include "bridge/BridgeQuery.h"

#include "json/JsonCodec.h"
#include "json/Utf8.h"
#include "net/PercentDecoding.h"

namespace tavero::bridge {

std::optional<std::string> percentDecodeUTF8(std::string_view text) {
  auto decoded = net::percentDecode(text);
  if (!decoded || !json::isValidUTF8(*decoded)) return std::nullopt;
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
