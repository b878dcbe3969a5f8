// JSON text as the bridge writes and reads it.
//
// The writer has a fixed layout: objects put each member on its own line,
// indented with tabs, as ` "key" : value`; arrays separate elements with ", "
// and never break lines. The reader is lenient in a few fixed ways (missing
// or trailing commas, text before an object's "{" or after the last bracket).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/JsonValue.h"

namespace tavero::json {

class JsonCodec {
 public:
  static constexpr int jsonDoNotIndent = -1;

  // The JSON text of `value`. A dictionary is written at level + 1, an array
  // at `level` (arrays add no level). All callers in the system pass 0.
  static std::string jsonStringForValue(const Value& value, int level = 0);
  static void appendJsonStringForValue(std::string& out, const Value& value, int level);

  // A quoted string: backspace, tab, line feed, form feed, carriage return,
  // double quote, solidus and backslash get their two-character escapes;
  // the other control characters (below U+0020) are written "\u00XX";
  // nothing else is escaped.
  static std::string jsonStringValue(std::string_view text);

  // Array and dictionary text at a given level.
  static std::string jsonStringValueWithIndentLevel(const Array& array, int level);
  static std::string jsonStringValueWithIndentLevel(const Object& object, int level);

  // "" for jsonDoNotIndent, else a line feed and `level` tabs.
  static std::string jsonIndentStringForLevel(int level);

  // The array or dictionary read from the beginning of `text`, or nullopt
  // when it cannot be read. Text after the closing bracket is ignored.
  // `text` is UTF-8.
  static std::optional<Array> arrayWithJSONString(std::string_view text);
  static std::optional<Object> dictionaryWithJSONString(std::string_view text);
};

}  // namespace tavero::json
