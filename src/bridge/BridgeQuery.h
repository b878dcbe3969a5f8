// The query of a bridge request, read into the argument dictionary.
//
// Pieces are separated by "&" and split at their first "="; the key is kept
// exactly as sent, the value is percent-decoded as UTF-8 ("+" stays "+").
// A decoded value that begins with "[" or "{" and reads as JSON becomes the
// array or object read from it; the page's text of that value is kept as
// well, because most arguments are texts whatever they begin with (a
// passphrase "[1,2]", a database name "{notes}"). A later piece with the
// same key replaces the earlier value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "bridge/Invocation.h"
#include "json/JsonValue.h"

namespace tavero::bridge {

// Percent-decodes `text`; nullopt when an escape is malformed or the bytes
// are not valid UTF-8.
std::optional<std::string> percentDecodeUTF8(std::string_view text);

struct BridgeQuery {
  json::Object values;  // every key: its text, or the array/object read from it
  ArgumentTexts texts;  // the keys of `values` that hold an array or object
};

struct QueryError {
  std::string key;     // the piece's key
  std::string reason;  // for the log
};

// Pieces without "=" (also the empty pieces of "&&") are skipped. A value
// that does not decode makes the whole query an error: a module must not
// run with an argument silently missing. A value that begins with "[" or
// "{" but does not read as JSON stays text.
std::variant<BridgeQuery, QueryError> parseBridgeQuery(std::string_view query);

// The value of the query's last "__token" piece, percent-decoded, found
// without decoding any other piece: the page token is checked before the
// query is read. Nothing when no piece has that key; an empty text (which
// matches no token) when the value does not decode, or when it is too long
// to be an encoded page token, which is then not decoded at all.
std::optional<std::string> rawQueryToken(std::string_view query);

// Adds one argument, read by the rules above from its decoded text
// (replacing an earlier one of the same key).
void addBridgeArgument(BridgeQuery& query, std::string key, std::string text);

}  // namespace tavero::bridge
