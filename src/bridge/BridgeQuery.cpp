#include "bridge/BridgeQuery.h"

#include "bridge/PageToken.h"
#include "json/JsonCodec.h"
#include "json/Utf8.h"
#include "net/PercentDecoding.h"

namespace tavero::bridge {
namespace {

// The array or object that `text` holds, if it begins with "[" or "{" and
// reads as one.
std::optional<json::Value> jsonValueOf(const std::string& text) {
  if (text.empty()) return std::nullopt;
  if (text.front() == '[') {
    if (auto array = json::JsonCodec::arrayWithJSONString(text)) return json::Value(std::move(*array));
  } else if (text.front() == '{') {
    if (auto object = json::JsonCodec::dictionaryWithJSONString(text)) return json::Value(std::move(*object));
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> percentDecodeUTF8(std::string_view text) {
  auto decoded = net::percentDecode(text);
  if (!decoded || !json::isValidUTF8(*decoded)) return std::nullopt;
  return decoded;
}

std::variant<BridgeQuery, QueryError> parseBridgeQuery(std::string_view query) {
  BridgeQuery parsed;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);

    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key(piece.substr(0, eq));
    auto decoded = percentDecodeUTF8(piece.substr(eq + 1));
    if (!decoded) return QueryError{key, "its value is not percent-encoded UTF-8"};

    addBridgeArgument(parsed, std::move(key), std::move(*decoded));
  }
  return parsed;
}

std::optional<std::string> rawQueryToken(std::string_view query) {
  static constexpr std::string_view kKey = "__token=";
  std::optional<std::string_view> raw;
  for (size_t start = 0; start <= query.size();) {
    size_t amp = query.find('&', start);
    std::string_view piece = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (piece.starts_with(kKey)) raw = piece.substr(kKey.size());
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  if (!raw) return std::nullopt;
  // Every byte of a token may be escaped, as "%xx".
  if (raw->size() > 3 * kPageTokenLength) return std::string();
  return percentDecodeUTF8(*raw).value_or(std::string());
}

void addBridgeArgument(BridgeQuery& query, std::string key, std::string text) {
  if (auto value = jsonValueOf(text)) {
    query.values.set(key, std::move(*value));
    query.texts.insert_or_assign(std::move(key), std::move(text));
  } else {
    query.texts.erase(key);  // an earlier piece of the same key may have been JSON
    query.values.set(std::move(key), std::move(text));
  }
}

}  // namespace tavero::bridge
