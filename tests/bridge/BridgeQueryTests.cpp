#include <gtest/gtest.h>

#include "bridge/BridgeQuery.h"

namespace tavero::bridge {
namespace {

BridgeQuery parseQuery(std::string_view query) {
  auto result = parseBridgeQuery(query);
  EXPECT_TRUE(std::holds_alternative<BridgeQuery>(result)) << query;
  return std::holds_alternative<BridgeQuery>(result) ? std::get<BridgeQuery>(result) : BridgeQuery{};
}

json::Object parse(std::string_view query) { return parseQuery(query).values; }

// The text an operation reads under `key`.
std::string pageText(std::string_view query, std::string_view key) {
  BridgeQuery parsed = parseQuery(query);
  Invocation call(std::make_shared<const json::Object>(std::move(parsed.values)),
                    std::make_shared<const ArgumentTexts>(std::move(parsed.texts)));
  return std::string(call.text(key));
}

std::string textOf(const json::Object& object, std::string_view key) {
  const json::Value* value = object.find(key);
  return value && value->isString() ? value->asString() : "<missing>";
}

TEST(BridgeQuery, PiecesSplitAtTheFirstEqualsAndLaterKeysWin) {
  auto args = parse("a=1&a=2&q=x%3Dy&x%20y=1&v=a+b&e=&skip&&trailing&");
  EXPECT_EQ(textOf(args, "a"), "2");
  EXPECT_EQ(textOf(args, "q"), "x=y");
  EXPECT_EQ(textOf(args, "x%20y"), "1");  // keys are not decoded
  EXPECT_EQ(textOf(args, "v"), "a+b");    // "+" is not a space
  EXPECT_EQ(textOf(args, "e"), "");
  EXPECT_FALSE(args.contains("skip"));
  EXPECT_EQ(args.size(), 5u);
  EXPECT_EQ(textOf(parse("k=a=b=c"), "k"), "a=b=c");
}

TEST(BridgeQuery, ValuesDecodeAsUtf8) {
  EXPECT_EQ(textOf(parse("t=%C3%A9t%C3%A9"), "t"), "\xC3\xA9t\xC3\xA9");
  for (const char* bad : {"t=%C3", "t=%FF", "t=%zz", "t=abc%", "t=%4", "t=%ED%A0%80", "t=%C0%AF"}) {
    auto result = parseBridgeQuery(bad);
    ASSERT_TRUE(std::holds_alternative<QueryError>(result)) << bad;
    EXPECT_EQ(std::get<QueryError>(result).key, "t");
  }
}

TEST(BridgeQuery, BracketedValuesBecomeJsonArraysAndObjects) {
  auto args = parse("v=%5B1,%20%22s%22%5D&o=%7B%22k%22:true%7D&s=%20%5B1%5D");
  const json::Value* v = args.find("v");
  ASSERT_TRUE(v && v->isArray());
  ASSERT_EQ(v->asArray().size(), 2u);
  EXPECT_EQ(v->asArray()[0].toInt64(), 1);
  EXPECT_EQ(v->asArray()[1], json::Value("s"));
  const json::Value* o = args.find("o");
  ASSERT_TRUE(o && o->isObject());
  EXPECT_EQ(*o->asObject().find("k"), json::Value(true));
  EXPECT_EQ(textOf(args, "s"), " [1]");  // a leading space keeps it text
}

TEST(BridgeQuery, EveryValueKeepsThePagesTextWhateverItBeginsWith) {
  // Read as JSON where that works, and still the page's text for operations
  // that take the argument as text (a passphrase "[1,2]" must not become "").
  for (const char* text : {"[1,2]", "{}", "[notes", " [x]", "{\"y\":1}", "[\"x\"]", "[1,", "{\"a\":"}) {
    std::string query = "v=" + std::string(text);
    for (size_t at; (at = query.find_first_of(" \"")) != std::string::npos;)
      query.replace(at, 1, query[at] == ' ' ? "%20" : "%22");
    EXPECT_EQ(pageText(query, "v"), text) << query;
  }
  // A key given twice: the last value wins, in both forms.
  EXPECT_EQ(pageText("v=%5B1%5D&v=plain", "v"), "plain");
  EXPECT_FALSE(parse("v=%5B1%5D&v=plain").find("v")->isArray());
  EXPECT_EQ(pageText("v=plain&v=%5B2%5D", "v"), "[2]");
  // Unreadable JSON is no reason to refuse the request: it stays text.
  for (const char* unreadable : {"v=%5B1,", "v=%7B%22a%22:", "v=%5Bx%5D"})
    EXPECT_TRUE(parse(unreadable).find("v")->isString()) << unreadable;
}

TEST(BridgeQuery, TheRawTokenIsTheLastTokenPieceDecodedAndNothingElse) {
  EXPECT_EQ(rawQueryToken("command=A%23b&__token=abc&x=1"), "abc");
  EXPECT_EQ(rawQueryToken("__token=first&__token=second"), "second");
  EXPECT_EQ(rawQueryToken("__token=%61%62"), "ab");
  EXPECT_EQ(rawQueryToken("__token=%5Babc%5D"), "[abc]");  // JSON-looking text stays the page's text
  EXPECT_EQ(rawQueryToken("__token="), "");
  // Not a token piece: another key ending in the name, a key without "=",
  // an escaped key (keys are kept as sent).
  EXPECT_EQ(rawQueryToken("x__token=abc&__token&%5F%5Ftoken=abc"), std::nullopt);
  EXPECT_EQ(rawQueryToken(""), std::nullopt);
}

TEST(BridgeQuery, ARawTokenThatCannotBeATokenIsEmptyAndOtherPiecesAreNeverDecoded) {
  EXPECT_EQ(rawQueryToken("__token=%zz"), "");     // truncated escape
  EXPECT_EQ(rawQueryToken("__token=%FF%FE"), "");  // not UTF-8
  EXPECT_EQ(rawQueryToken("__token=" + std::string(3 * 64 + 1, 'a')), "");
  EXPECT_EQ(rawQueryToken("__token=" + std::string(3 * 64, 'a')), std::string(3 * 64, 'a'));
  // A malformed value elsewhere does not hide the token.
  EXPECT_EQ(rawQueryToken("bad=%G1&__token=abc&worse=%"), "abc");
}

}  // namespace
}  // namespace tavero::bridge
