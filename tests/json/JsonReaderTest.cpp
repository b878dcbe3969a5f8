#include <gtest/gtest.h>

#include <limits>

#include "json/JsonCodec.h"
#include "json/JsonScanner.h"
#include "json/NumberText.h"

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

  // Objects and arrays count alike toward the limit.
  auto mixed = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
      open += i % 2 ? "{\"k\":" : "[";
      close.insert(0, i % 2 ? "}" : "]");
    }
    return open + "1" + close;
  };
  EXPECT_TRUE(JsonCodec::arrayWithJSONString(mixed(JsonScanner::kMaxDepth)));
  EXPECT_FALSE(JsonCodec::arrayWithJSONString(mixed(JsonScanner::kMaxDepth + 1)));
  EXPECT_FALSE(JsonCodec::arrayWithJSONString(mixed(JsonScanner::kMaxDepth + 2)));
}

// Short numbers are made without makeDecimal; they must come out exactly as
// makeDecimal makes them (same mantissa, exponent and sign, not only the
// same value), or the text written back would change.
TEST(JsonReader, ShortNumbersMatchTheGeneralPath) {
  auto viaReader = [](const std::string& text) {
    auto a = JsonCodec::arrayWithJSONString("[" + text + "]");
    return a && a->size() == 1 && a->front().kind() == Value::Kind::Decimal ? a->front().asDecimal()
                                                                             : Decimal{999, 999, true};
  };
  auto viaMakeDecimal = [](const std::string& text) {
    std::string_view t = text;
    bool negative = t.front() == '-';
    if (negative) t.remove_prefix(1);
    size_t dot = t.find('.');
    std::string_view intPart = t.substr(0, dot), fracPart = dot == t.npos ? "" : t.substr(dot + 1);
    while (!intPart.empty() && intPart.front() == '0') intPart.remove_prefix(1);
    Decimal d{999, 999, true};
    EXPECT_TRUE(detail::makeDecimal(negative, intPart.data(), intPart.size(), fracPart.data(), fracPart.size(), 0, d));
    return d;
  };
  for (std::string text : {"0", "-0", "-0.0", "0.000", "7", "-7", "100", "1.50", "-123.456", "0.0000000000000000001",
                           "9999999999999999999", "-999999999.9999999999", "18446744073709551615",
                           "99999999999999999999", "12345678901234567890.5", "000123.4500"}) {
    Decimal read = viaReader(text), made = viaMakeDecimal(text);
    EXPECT_TRUE(read.mantissa == made.mantissa && read.exponent == made.exponent && read.negative == made.negative)
        << text;
  }
  // 19 digits take the short path, 20 the general one; both are exact.
  EXPECT_EQ(viaReader("9999999999999999999").toInt64(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(viaReader("-1234567890123456789").toInt64(), -1234567890123456789);
  Uint128 twentyDigits = viaReader("12345678901234567890").mantissa;  // a copy: the field is packed
  EXPECT_TRUE(twentyDigits == u128("12345678901234567890"));
  EXPECT_EQ(viaReader("1.5e0"), (Decimal{15, -1, false}));
}

// Arrays are gathered on the reader's own stack and handed over whole.
TEST(JsonReader, ArraysAreHandedOverWhole) {
  JsonScanner nested("[1, [2, [3, []]], {\"k\": [4, {\"m\": [5]}]}, \"s\"]");
  Array array{Value("kept")};
  ASSERT_TRUE(nested.scanJSONArray(array));
  auto whole = JsonCodec::arrayWithJSONString("[\"kept\", 1, [2, [3, []]], {\"k\": [4, {\"m\": [5]}]}, \"s\"]");
  ASSERT_TRUE(whole);
  EXPECT_EQ(array, *whole);
  ASSERT_EQ(array.size(), 5u);
  EXPECT_EQ(readArray(JsonCodec::jsonStringForValue(array[2])), "[2, [3, []]]");
  EXPECT_EQ(array[3].asObject().find("k")->asArray()[1].asObject().find("m")->asArray().size(), 1u);

  // A read that fails leaves the array as it was and the position where it was.
  for (const char* text : {"[1, [2, 3]", "[1, {\"a\": [2]}", "[[[1]]", "[1, 2 x]"}) {
    JsonScanner broken(text);
    Array untouched{Value(true)};
    EXPECT_FALSE(broken.scanJSONArray(untouched)) << text;
    EXPECT_EQ(untouched, Array{Value(true)}) << text;
    EXPECT_EQ(broken.position(), 0u) << text;
  }

  // The gathering stack is kept between reads on a thread: a long array, a
  // failed read and a short one after it each read what they hold.
  std::string longArray = "[";
  for (int i = 0; i < 20'000; ++i) longArray += std::to_string(i) + ",";
  longArray += "[\"end\"]]";
  for (int round = 0; round < 2; ++round) {
    auto read = JsonCodec::arrayWithJSONString(longArray);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 20'001u);
    EXPECT_EQ((*read)[19'999].toInt64(), 19'999);
    EXPECT_EQ((*read)[20'000], Value(Array{Value("end")}));
    EXPECT_FALSE(JsonCodec::arrayWithJSONString("[1, 2, [3, 4"));
    EXPECT_EQ(readArray("[[1], 2]"), "[[1], 2]");
  }
}

TEST(JsonReader, EscapesAtEveryPlaceOfTheBlockScan) {
  // The string scan looks at 16 and then 8 bytes at a time; an escape or
  // the closing quote may fall on any byte of either block, or in the bytes
  // after the last whole block.
  for (size_t before = 0; before < 40; ++before) {
    std::string run(before, 'a');
    EXPECT_EQ(readString("\"" + run + "\""), run) << before;
    EXPECT_EQ(readString("\"" + run + "\u00e9\u20ac\U0001F600\""), run + "\u00e9\u20ac\U0001F600") << before;
    EXPECT_EQ(readString("\"" + run + "\\\"b\""), run + "\"b") << before;
    EXPECT_EQ(readString("\"" + run + "\\\\\""), run + "\\") << before;
    EXPECT_EQ(readString("\"" + run + "\\ud83d\\ude00" + run + "\""), run + "\U0001F600" + run) << before;
    EXPECT_EQ(readString("\"" + run + "\\ud83d\""), run + "\uFFFD") << before;
    EXPECT_EQ(readString("\"" + run + "\\u00"), "nothing") << before;
    EXPECT_EQ(readString("\"" + run), "nothing") << before;
    // Text that ends in a backslash, or in an escaped quote, has no closing quote.
    EXPECT_FALSE(JsonCodec::arrayWithJSONString("[\"" + run + "\\")) << before;
    EXPECT_FALSE(JsonCodec::arrayWithJSONString("[\"" + run + "\\\"")) << before;
  }
  // The decoded text's room grows as it goes: a long run after the first
  // escape, and many escapes one after the other.
  std::string longRun(10'000, 'r');
  EXPECT_EQ(readString("\"\\t" + longRun + "\\n" + longRun + "\""), "\t" + longRun + "\n" + longRun);
  std::string euros, escapedEuros;
  for (int i = 0; i < 1000; ++i) euros += "\u20ac", escapedEuros += "\\u20ac";
  EXPECT_EQ(readString("\"x" + escapedEuros + "\""), "x" + euros);
  // Escaped strings are decoded into room sized from the escaped text: runs
  // of every length between escapes, escapes that decode to 1 to 4 bytes and
  // raw multi-byte characters must all land in place.
  for (size_t before = 0; before < 34; ++before) {
    for (size_t after = 0; after < 34; after += 5) {
      std::string a(before, 'a'), b(after, 'b');
      std::string text = a + "\\n" + b + "\\u00e9" + a + "\\u20ac" + b + "\\ud83d\\ude00" + a + "\\q" + b +
                         "\xc3\xa9" + a + "\\/";
      std::string expected = a + "\n" + b + "\u00e9" + a + "\u20ac" + b + "\U0001F600" + a + "\\q" + b + "\u00e9" + a + "/";
      EXPECT_EQ(readString("\"" + text + "\""), expected) << before << " " << after;
      // Object keys take the same path.
      auto object = JsonCodec::dictionaryWithJSONString("{\"" + text + "\": \"" + text + "\"}");
      ASSERT_TRUE(object) << before << " " << after;
      EXPECT_EQ(object->begin()->key, expected);
      EXPECT_EQ(object->begin()->value, Value(expected));
    }
  }
}

TEST(JsonScanner, FailedStringScansLeaveTheStringAsItWas) {
  // A malformed escape after a decoded part: nothing of it stays behind.
  for (const char* text : {R"("ab\n\u12")", R"("ab\tcd\u00e9\uzzzz")", R"("ab\n)", "\"\\\\"}) {
    JsonScanner scanner(text);
    std::string string = "kept";
    EXPECT_FALSE(scanner.scanJSONString(string)) << text;
    EXPECT_EQ(string, "kept") << text;
    EXPECT_EQ(scanner.position(), 0u) << text;
  }
  // A successful scan appends.
  JsonScanner scanner(R"( "\u00e9\n")");
  std::string string = "kept";
  ASSERT_TRUE(scanner.scanJSONString(string));
  EXPECT_EQ(string, "kept\u00e9\n");
}

TEST(JsonScanner, ValuesAreReadOverWhatTheyHeld) {
  // Strings are read straight into the value, whatever it held before.
  for (Value before : {Value(Object{}), Value(Array{1, "x"}), Value("old text longer than sixteen"), Value(2.5)}) {
    Value value = before;
    JsonScanner scanner(R"("new\tline")");
    ASSERT_TRUE(scanner.scanJSONValue(value));
    EXPECT_EQ(value, Value("new\tline"));
  }
  // A member whose value is a nested object or array is read aside while
  // other members are gathered; many members around it keep their values.
  std::string text = "{";
  for (int i = 0; i < 40; ++i) {
    text += "\"s" + std::to_string(i) + "\": \"v" + std::to_string(i) + "\", ";
    text += "\"o" + std::to_string(i) + "\": {\"a\": [" + std::to_string(i) + ", {\"b\": \"c\"}]}, ";
  }
  text += "}";
  auto object = JsonCodec::dictionaryWithJSONString(text);
  ASSERT_TRUE(object);
  ASSERT_EQ(object->size(), 80u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(*object->find("s" + std::to_string(i)), Value("v" + std::to_string(i)));
    const Array& a = object->find("o" + std::to_string(i))->asObject().find("a")->asArray();
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].toInt64(), i);
    EXPECT_EQ(a[1], Value(Object(*JsonCodec::dictionaryWithJSONString(R"({"b": "c"})"))));
  }
}

TEST(JsonReader, InvalidUTF8IsKeptAsItCame) {
  // The reader does not check UTF-8: bytes that are not well-formed reach
  // the modules as they came, which check what they take from pages.
  const std::string invalid = "\xc3\x28 \xa0\xa1 \xed\xa0\x80 \xf0\x28\x8c\xbc \xff\xfe \xc0\xaf";
  EXPECT_EQ(readString("\"" + invalid + "\""), invalid);
  EXPECT_EQ(readString("\"" + invalid + "\\n\xff\""), invalid + "\n\xff");
  auto object = JsonCodec::dictionaryWithJSONString("{\"\xff" + invalid + "\": \"\xfe\"}");
  ASSERT_TRUE(object);
  EXPECT_EQ(object->begin()->key, "\xff" + invalid);
  EXPECT_EQ(object->begin()->value, Value("\xfe"));
  // A lone lead byte just before the closing quote does not swallow it.
  EXPECT_EQ(readString("\"abc\xe2\""), "abc\xe2");
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
