// The web view's content rules as WebKit reads them: the JSON is parsed and
// the rules are applied in order (a "block" blocks, "ignore-previous-rules"
// lifts every earlier verdict), each url-filter a regular expression that
// ignores case unless the rule says otherwise.
#include <gtest/gtest.h>

#include <regex>

#include "json/JsonCodec.h"
#include "platform/FileURL.h"
#include "platform/linux/ContentRules.h"

namespace tavero::platform {
namespace {

struct Rule {
  std::regex filter;
  std::string action;
};

// The rules of `text`; fails the test when the text is not rules.
std::vector<Rule> parseRules(const std::string& text) {
  std::vector<Rule> rules;
  auto array = json::JsonCodec::arrayWithJSONString(text);
  EXPECT_TRUE(array) << "not a JSON array: " << text;
  if (!array) return rules;
  for (const json::Value& item : *array) {
    const json::Object* rule = item.ifObject();
    const json::Value* trigger = rule ? rule->find("trigger") : nullptr;
    const json::Value* action = rule ? rule->find("action") : nullptr;
    const json::Value* filter = trigger && trigger->isObject() ? trigger->asObject().find("url-filter") : nullptr;
    const json::Value* type = action && action->isObject() ? action->asObject().find("type") : nullptr;
    EXPECT_TRUE(filter && filter->isString() && type && type->isString()) << "a rule without filter or action";
    if (!filter || !type) continue;
    const json::Value* sensitive = trigger->asObject().find("url-filter-is-case-sensitive");
    auto flags = std::regex::ECMAScript;
    if (!(sensitive && sensitive->isBool() && sensitive->asBool())) flags |= std::regex::icase;
    rules.push_back({std::regex(filter->asString(), flags), type->asString()});
  }
  return rules;
}

bool blocked(const std::vector<Rule>& rules, const std::string& url) {
  bool block = false;
  for (const Rule& rule : rules) {
    if (!std::regex_search(url, rule.filter)) continue;
    if (rule.action == "block") block = true;
    if (rule.action == "ignore-previous-rules") block = false;
  }
  return block;
}

TEST(ContentRules, FilesOutsideTheReadableFoldersAreBlocked) {
  auto rules = parseRules(contentRulesJSON({"/srv/app/webapp", "/home/kim/Documents/"}, {}));
  for (const char* url : {"file:///srv/app/webapp/index.html", "file:///srv/app/webapp/js/app.js",
                          "file:///home/kim/Documents/image-1.jpg", "https://example.org/x", "data:text/plain,a"})
    EXPECT_FALSE(blocked(rules, url)) << url;
  for (const char* url : {"file:///etc/passwd", "FILE:///etc/passwd", "file:///srv/app/webapp-old/index.html",
                          "file:///srv/app/webappindex.html", "file:///srv/app/WEBAPP/index.html",
                          "file:///srv/app/", "file:///home/kim/Documents.bak/a"})
    EXPECT_TRUE(blocked(rules, url)) << url;
}

TEST(ContentRules, EncodedSeparatorsDotsAndNulsNeverLeadOutOfAFolder) {
  auto rules = parseRules(contentRulesJSON({"/srv/app/webapp"}, {}));
  for (const char* url : {"file:///srv/app/webapp/..%2F..%2Fetc/passwd", "file:///srv/app/webapp/..%2f..%2fetc",
                          "file:///srv/app/webapp/%2e%2e/%2E%2E/etc/passwd", "file:///srv/app/webapp/..%5c..%5Cetc",
                          "file:///srv/app/webapp/index.html%00.png"})
    EXPECT_TRUE(blocked(rules, url)) << url;
}

TEST(ContentRules, BlockedPrefixesStayBlockedWhateverComesBefore) {
  auto rules = parseRules(contentRulesJSON({"/srv/app/webapp"}, {"http://localhost:3000/", "ws://[::1]:3000/"}));
  for (const char* url : {"http://localhost:3000/?command=x", "HTTP://LOCALHOST:3000/", "ws://[::1]:3000/socket"})
    EXPECT_TRUE(blocked(rules, url)) << url;
  for (const char* url : {"http://localhost:30000/", "http://localhost:300/", "http://xlocalhost:3000/",
                          "ws://[::2]:3000/"})
    EXPECT_FALSE(blocked(rules, url)) << url;
}

// Folder names and prefixes with characters that mean something to JSON or
// to regular expressions: the rules still parse (as strict JSON: no raw
// control characters in strings), and match those names and nothing else.
TEST(ContentRules, HostileNamesAreEscapedForJsonAndForPatterns) {
  const std::string folder = "/srv/a.b \"q\" (x)+[y]*?{1}$^|\t";
  const std::string prefix = "http://a.b:1/\"q\"\\ (x)+[y]*?{1}$^|\t\n";
  const std::string text = contentRulesJSON({folder}, {prefix});
  bool inString = false, escaped = false;
  for (unsigned char c : text) {
    if (inString) {
      EXPECT_GE(c, 0x20) << "a raw control character in a string of " << text;
    }
    if (escaped) {
      escaped = false;
    } else if (c == '\\') {
      escaped = inString;
    } else if (c == '"') {
      inString = !inString;
    }
  }
  auto rules = parseRules(text);
  ASSERT_FALSE(rules.empty());
  const std::string folderURL = fileURLForPath(folder) + "/";
  EXPECT_FALSE(blocked(rules, folderURL + "index.html")) << folderURL;
  EXPECT_TRUE(blocked(rules, "file:///srv/aXb%20%22q%22%20%28x%29%2B%5By%5D%2A%3F%7B1%7D%24%5E%7C%09/index.html"));
  EXPECT_TRUE(blocked(rules, prefix + "rest"));
  EXPECT_FALSE(blocked(rules, "http://aXb:1/"));
  EXPECT_FALSE(blocked(rules, "http://a.b:1/\"q\"\\ (x)"));
}

TEST(ContentRules, PrefixPatternsMatchTheTextLiterally) {
  std::regex pattern(urlPrefixPattern("http://a.b/(c)+[d]?*{e}|^$\\"));
  EXPECT_TRUE(std::regex_search("http://a.b/(c)+[d]?*{e}|^$\\tail", pattern));
  EXPECT_FALSE(std::regex_search("http://aXb/(c)+[d]?*{e}|^$\\", pattern));
  EXPECT_FALSE(std::regex_search("x http://a.b/(c)+[d]?*{e}|^$\\", pattern));
}

}  // namespace
}  // namespace tavero::platform
