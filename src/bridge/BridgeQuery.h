// The query of a bridge request, read into the argument dictionary.
//
// Pieces are separated by "&" and split at their first "="; the key is kept
// exactly as sent, the value is percent-decoded as UTF-8 ("+" stays "+").
// A decoded value that begins with "[" or "{" becomes the array or object
// read from it. A later piece with the same key replaces the earlier value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json/JsonValue.h"

namespace tavero::bridge {

// Percent-decodes `text`; nullopt when an escape is malformed or the bytes
// are not valid UTF-8.
std::optional<std::string> percentDecodeUTF8(std::string_view text);

struct QueryError {
  std::string key;     // the piece's key
  std::string reason;  // for the log
};

// Pieces without "=" (also the empty pieces of "&&") are skipped. A value
// that does not decode, or whose JSON text does not read, makes the whole
// query an error: a module must not run with an argument silently missing.
std::variant<json::Object, QueryError> parseBridgeQuery(std::string_view query);

}  // namespace tavero::bridge
