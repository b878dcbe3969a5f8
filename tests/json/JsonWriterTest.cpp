#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "json/JsonCodec.h"

namespace tavero::json {
namespace {

Object obj(std::initializer_list<std::pair<const char*, Value>> members) {
  Object o;
  for (const auto& [k, v] : members) o.append(k, v);
  return o;
}

std::string write(const Value& v) { return JsonCodec::jsonStringForValue(v); }

// A number read from text keeps the reader's Decimal.
Value number(std::string_view text) {
  auto a = JsonCodec::arrayWithJSONString("[" + std::string(text) + "]");
  EXPECT_TRUE(a && a->size() == 1) << text;
  return a && a->size() == 1 ? (*a)[0] : Value();
}

TEST(JsonWriter, Layout) {
  EXPECT_EQ(write(obj({{"id", 5}})), "{\n\t \"id\" : 5}");
  EXPECT_EQ(write(Array{1, "a", true}), "[1, \"a\", true]");
  EXPECT_EQ(write(obj({{"x", obj({{"k", nullptr}})}})), "{\n\t \"x\" : {\n\t\t \"k\" : null}}");
  EXPECT_EQ(write(Array{obj({{"k", nullptr}})}), "[{\n\t \"k\" : null}]");
  EXPECT_EQ(write(obj({{"a", Array{obj({{"b", false}})}}, {"c", 1}})),
            "{\n\t \"a\" : [{\n\t\t \"b\" : false}],\n\t \"c\" : 1}");
  EXPECT_EQ(write(Object()), "{}");
  EXPECT_EQ(write(Array()), "[]");
  EXPECT_EQ(JsonCodec::jsonStringValueWithIndentLevel(obj({{"a", 1}, {"b", 2}}), JsonCodec::jsonDoNotIndent),
            "{ \"a\" : 1, \"b\" : 2}");
  EXPECT_EQ(JsonCodec::jsonIndentStringForLevel(-1), "");
  EXPECT_EQ(JsonCodec::jsonIndentStringForLevel(0), "\n");
  EXPECT_EQ(JsonCodec::jsonIndentStringForLevel(3), "\n\t\t\t");
  EXPECT_EQ(JsonCodec::jsonIndentStringForLevel(40), "\n" + std::string(40, '\t'));

  std::string out = "x";
  JsonCodec::appendJsonStringForValue(out, Array{nullptr}, 0);
  EXPECT_EQ(out, "x[null]");
}

TEST(JsonWriter, EightCharactersHaveShortEscapesAndOtherControlCharactersUnicodeOnes) {
  EXPECT_EQ(JsonCodec::jsonStringValue("a/\"\n"), "\"a\\/\\\"\\n\"");
  EXPECT_EQ(JsonCodec::jsonStringValue("\b\t\n\f\r\"/\\"), "\"\\b\\t\\n\\f\\r\\\"\\/\\\\\"");
  // JSON text may not hold the other control characters raw: a page's
  // JSON.parse refuses them. DEL and non-ASCII text go out raw.
  EXPECT_EQ(JsonCodec::jsonStringValue(std::string("\0\x01\x0b\x1b\x1f\x7f", 6)),
            "\"\\u0000\\u0001\\u000b\\u001b\\u001f\x7f\"");
  EXPECT_EQ(JsonCodec::jsonStringValue("h\u00e9\u2028\U0001F600"), "\"h\u00e9\u2028\U0001F600\"");
  // A long text of control characters only: every byte takes six.
  EXPECT_EQ(JsonCodec::jsonStringValue(std::string(100, '\x02')).size(), 602u);
  std::string mixed, mixedExpected = "\"";
  for (int i = 0; i < 64; ++i) {
    mixed += std::string(static_cast<size_t>(i % 11), 'y') + static_cast<char>(i % 32);
    mixedExpected += std::string(static_cast<size_t>(i % 11), 'y');
    const char* shortForm = nullptr;
    switch (i % 32) {
      case 8: shortForm = "\\b"; break;
      case 9: shortForm = "\\t"; break;
      case 10: shortForm = "\\n"; break;
      case 12: shortForm = "\\f"; break;
      case 13: shortForm = "\\r"; break;
    }
    char unicode[8];
    std::snprintf(unicode, sizeof unicode, "\\u%04x", i % 32);
    mixedExpected += shortForm ? shortForm : unicode;
  }
  EXPECT_EQ(JsonCodec::jsonStringValue(mixed), mixedExpected + "\"");
  auto back = JsonCodec::arrayWithJSONString("[" + JsonCodec::jsonStringValue(mixed) + "]");
  ASSERT_TRUE(back);
  EXPECT_EQ((*back)[0].asString(), mixed);
  // Escapes at every offset of a longer string, which is scanned in blocks.
  std::string text, expected = "\"";
  for (int i = 0; i < 40; ++i) {
    text += std::string(static_cast<size_t>(i % 9), 'x') + "\\";
    expected += std::string(static_cast<size_t>(i % 9), 'x') + "\\\\";
  }
  EXPECT_EQ(JsonCodec::jsonStringValue(text), expected + "\"");
}

TEST(JsonWriter, NumbersArePlainDecimalText) {
  EXPECT_EQ(write(1), "1");
  EXPECT_EQ(write(std::numeric_limits<int32_t>::min()), "-2147483648");
  EXPECT_EQ(write(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(write(true), "true");
  EXPECT_EQ(write(false), "false");
  EXPECT_EQ(write(nullptr), "null");

  EXPECT_EQ(write(number("1e3")), "1000");
  EXPECT_EQ(write(number("-0.25")), "-0.25");
  EXPECT_EQ(write(number("1.50")), "1.5");
  EXPECT_EQ(write(number("0.0")), "0");
  EXPECT_EQ(write(number("-0")), "0");
  EXPECT_EQ(write(number("12.5e-3")), "0.0125");
  EXPECT_EQ(write(number("1e127")), "1" + std::string(127, '0'));
  EXPECT_EQ(write(number("123456789012345678901234567890123456789")),
            "123456789012345678901234567890123456790");

  EXPECT_EQ(write(1e21), "1000000000000000000000");
  EXPECT_EQ(write(1.5e-7), "0.00000015");
  EXPECT_EQ(write(0.1), "0.1");
  EXPECT_EQ(write(-2.5), "-2.5");
  EXPECT_EQ(write(123456.789), "123456.789");
  EXPECT_EQ(write(-0.0), "0");
  EXPECT_EQ(write(5e-324), "0." + std::string(323, '0') + "5");
  // Infinity as the one number text that reads back as infinity; NaN has none.
  EXPECT_EQ(write(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(write(Array{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}),
            "[1e999, -1e999]");
  auto infinities = JsonCodec::arrayWithJSONString("[1e999, -1e999]");
  ASSERT_TRUE(infinities);
  EXPECT_EQ((*infinities)[0].toDouble(), std::numeric_limits<double>::infinity());
  EXPECT_EQ((*infinities)[1].toDouble(), -std::numeric_limits<double>::infinity());

  // Shortest digits still parse back to the same double.
  for (double d : {0.1 + 0.2, 1.7976931348623157e308, 2.2250738585072014e-308, 1.0 / 3}) {
    EXPECT_EQ(std::strtod(write(d).c_str(), nullptr), d) << write(d);
  }
}

}  // namespace
}  // namespace tavero::json
