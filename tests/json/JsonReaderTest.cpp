#include <gtest/gtest.h>

#include <limits>

#include "json/JsonCodec.h"
#include "json/JsonScanner.h"

namespace tavero::json {
namespace {

// One-line text of what was read, or "nothing".
Uint128 u128(std::string_view digits) {
  Uint128 v = 0;
  for (char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  return v;
}

std::string readArray(std::string_view text) {
  auto a = JsonCodec::arrayWithJSONString(text);
  return a ? JsonCodec::jsonStringValueWithIndentLevel(*a, JsonCodec::jsonDoNotIndent) : "nothing";
}
std::string readObject(std::string_view text) {
  auto o = JsonCodec::dictionaryWithJSONString(text);
  return o ? JsonCodec::jsonStringValueWithIndentLevel(*o, JsonCodec::jsonDoNotIndent) : "nothing";
}
// The single string element of `["..."]`, or "nothing".
std::string readString(std::string_view quoted) {
  auto a = JsonCodec::arrayWithJSONString("[" + std::string(quoted) + "]");
  return a && a->size() == 1 && (*a)[0].isString() ? (*a)[0].asString() : "nothing";
}

TEST(JsonReader, LenientArrays) {
  EXPECT_EQ(readArray("[1 2]"), "[1, 2]");
  EXPECT_EQ(readArray("[1,]"), "[1]");
  EXPECT_EQ(readArray("1, 2]"), "[1, 2]");
  EXPECT_EQ(readArray("[] and more"), "[]");
  EXPECT_EQ(readArray("[true]"), "[true]");
  EXPECT_EQ(readArray("[false,null,-0.5e+2,007]"), "[false, null, -50, 7]");
  EXPECT_EQ(readArray("\xc2\xa0[\xe2\x80\xa8 1\xe3\x80\x80,\xe1\x9a\x80\x0b 2 \xc2\x85]"), "[1, 2]");
}

TEST(JsonReader, RejectsMalformedArrays) {
  for (const char* text : {"", "[", "[1,", "[,1]", "[1,,2]", "[+1]", "[.5]", "[1.]", "[1e]", "[-]",
                           "['a']", "[1 /* c */]", "[truex]", "[nul]", "[\"abc]",
                           "[\"\\u00e\"]", "[\"\\"}) {
    EXPECT_EQ(readArray(text), "nothing") << text;
  }
}

TEST(JsonReader, LenientObjects) {
  EXPECT_EQ(readObject("{\"a\":1,}"), "{ \"a\" : 1}");
  EXPECT_EQ(readObject("callback({\"a\" : 1}) tail"), "{ \"a\" : 1}");
  EXPECT_EQ(readObject("{\"a\":1 \"b\":[2]}"), "{ \"a\" : 1, \"b\" : [2]}");
  EXPECT_EQ(readObject("{\"a\":1,\"b\":3,\"a\":2}"), "{ \"a\" : 2, \"b\" : 3}");
  EXPECT_EQ(readObject(" { } "), "{}");
  // A key without its value ends the members; the "}" still closes them.
  EXPECT_EQ(readObject("{\"a\" }"), "{}");
  EXPECT_EQ(readObject("{\"a\":}"), "{}");

  // Repeated keys in a large object, before and after it outgrows the
  // linear search for them.
  std::string text = "{";
  for (int i = 0; i < 40; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k3\":{\"k3\":1,\"k3\":2}, \"k30\":\"last\"}";
  auto large = JsonCodec::dictionaryWithJSONString(text);
  ASSERT_TRUE(large);
  EXPECT_EQ(large->size(), 40u);
  EXPECT_EQ(std::next(large->begin(), 3)->key, "k3");
  EXPECT_EQ(readObject(JsonCodec::jsonStringForValue(*large->find("k3"))), "{ \"k3\" : 2}");
  EXPECT_EQ(*large->find("k30"), Value("last"));
  EXPECT_EQ(std::prev(large->end())->key, "k39");

  auto nested = JsonCodec::dictionaryWithJSONString("{\"o\":{\"p\":[{}, {\"q\":\"r\"}]}}");
  ASSERT_TRUE(nested);
  EXPECT_EQ(*nested->find("o")->asObject().find("p")->asArray()[1].asObject().find("q"), Value("r"));
}

TEST(JsonReader, RejectsMalformedObjects) {
  for (const char* text : {"", "no brace", "{", "{\"a\":", "{\"a\":1", "{'a':1}", "{a:1}",
                           "{\"a\":1,,\"b\":2}", "{\"a\":1 // c\n}", "{\"a\":[}"}) {
    EXPECT_EQ(readObject(text), "nothing") << text;
  }
}

TEST(JsonReader, StringEscapes) {
  EXPECT_EQ(readString(R"("\"\/\\\b\f\n\r\t")"), "\"/\\\b\f\n\r\t");
  EXPECT_EQ(readString(R"("\u00e9\u00E9")"), "\u00e9\u00e9");
  EXPECT_EQ(readString(R"("\u0000")"), std::string(1, '\0'));
  EXPECT_EQ(readString(R"("\q")"), "\\q");
  EXPECT_EQ(readString("\"\\\u00e9\""), "\\\u00e9");
  EXPECT_EQ(readString("\"raw\ttab\x01\""), "raw\ttab\x01");
  // Surrogates: a pair is one character; a half on its own is U+FFFD.
  EXPECT_EQ(readString(R"("\ud83d\ude00")"), "\U0001F600");
  EXPECT_EQ(readString(R"("\ud83dx")"), "\uFFFDx");
  EXPECT_EQ(readString(R"("\ude00")"), "\uFFFD");
  EXPECT_EQ(readString(R"("\ud83d\ud83d\ude00")"), "\uFFFD\U0001F600");
  EXPECT_EQ(readString(R"("\ud83d\u0041")"), "\uFFFDA");
  EXPECT_EQ(readString(R"("\u 123")"), "nothing");
  EXPECT_EQ(readString(R"("\ud83d\u12")"), "nothing");
}

TEST(JsonReader, NumbersAreExactDecimals) {
  auto read = [](std::string_view text) {
    auto a = JsonCodec::arrayWithJSONString("[" + std::string(text) + "]");
    return a && a->size() == 1 ? (*a)[0].asDecimal() : Decimal{999, 999, true};
  };
  EXPECT_EQ(read("0.1"), (Decimal{1, -1, false}));
  EXPECT_EQ(read("-0.001e-2"), (Decimal{1, -5, true}));
  EXPECT_EQ(read("-0"), Decimal{});
  // 39 digits round half up to 38; a carry adds a digit back to the exponent.
  EXPECT_EQ(read("123456789012345678901234567890123456789"),
            (Decimal{u128("12345678901234567890123456789012345679"), 1, false}));
  Uint128 e37 = u128("1" + std::string(37, '0'));
  EXPECT_EQ(read(std::string(39, '9')), (Decimal{e37, 2, false}));
  EXPECT_EQ(read("0." + std::string(38, '9') + "4"), (Decimal{e37 * 10 - 1, -38, false}));
  // Exponent kept within [-128, 127]: small values lose digits, large ones
  // take trailing zeros into the mantissa or fail.
  EXPECT_EQ(read("12e-129"), (Decimal{1, -128, false}));
  EXPECT_EQ(read("1e-129"), Decimal{});
  EXPECT_EQ(read("-1e-99999999999999999999"), Decimal{});
  EXPECT_EQ(read("1e164"), (Decimal{e37, 127, false}));
  EXPECT_EQ(read("0e99999"), Decimal{});
  // Numbers too large for that are read as the nearest double, infinity
  // beyond the doubles.
  auto large = JsonCodec::arrayWithJSONString("[1e165, -2.5e300, 1e309, -1e99999999999999999999, 1e999]");
  ASSERT_TRUE(large);
  EXPECT_EQ(*large, (Array{1e165, -2.5e300, std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()}));
}

TEST(JsonReader, NestingIsBounded) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(JsonCodec::arrayWithJSONString(nested(JsonScanner::kMaxDepth)));
  EXPECT_FALSE(JsonCodec::arrayWithJSONString(nested(JsonScanner::kMaxDepth + 1)));
  EXPECT_FALSE(JsonCodec::arrayWithJSONString(std::string(1'000'000, '[')));
  EXPECT_FALSE(JsonCodec::dictionaryWithJSONString(std::string(1'000'000, '{')));
}

TEST(JsonScanner, FailedScansKeepThePosition) {
  JsonScanner s("  x");
  Value v;
  std::string str;
  Decimal d;
  EXPECT_FALSE(s.scanJSONValue(v));
  EXPECT_FALSE(s.scanJSONString(str));
  EXPECT_FALSE(s.scanJSONNumber(d));
  EXPECT_FALSE(s.scanEndArray());
  EXPECT_EQ(s.position(), 0u);
  EXPECT_TRUE(s.scanJSONWhiteSpace());
  EXPECT_EQ(s.position(), 2u);

  JsonScanner literal(" truex");
  ASSERT_TRUE(literal.scanJSONValue(v));
  EXPECT_EQ(v, Value(true));
  EXPECT_EQ(literal.position(), 5u);

  JsonScanner number("1.e5");
  ASSERT_TRUE(number.scanJSONNumber(d));
  EXPECT_EQ(d, (Decimal{1, 0, false}));
  EXPECT_EQ(number.position(), 1u);
}

TEST(JsonCodec, WrittenTextReadsBack) {
  Object inner;
  inner.append("text", "quote\" slash/ back\\ \b\f\n\r\t \x01 \u00e9\U0001F600");
  inner.append("list", Array{1, 2.5, int64_t{-7}, true, nullptr, Array{}, Object{}});
  Object root;
  root.append("inner", inner);
  root.append("rows", Array{inner, inner});
  std::string text = JsonCodec::jsonStringForValue(root);
  auto back = JsonCodec::dictionaryWithJSONString(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(JsonCodec::jsonStringForValue(*back), text);
  EXPECT_EQ(back->find("inner")->asObject().find("text")->asString(), inner.find("text")->asString());
}

}  // namespace
}  // namespace tavero::json
