// Why an Info.plist that libplist cannot read is not a property list: the
// first thing wrong, and for XML the line it is on.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include "platform/linux/PlistDiagnosis.h"

namespace tavero::platform {
namespace {

// The problem found in `text`, which must be something libplist rejects
// (else the case tests nothing).
std::string problemOf(const std::string& text) {
  plist_t read = nullptr;
  plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &read);
  if (read) {
    plist_free(read);
    ADD_FAILURE() << "libplist reads this: " << text;
  }
  return plistProblem(text);
}

TEST(PlistDiagnosis, BrokenXmlIsNamedWithItsLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"just some text", "line 1"},
      {"<plist version=\"1.0\">\n<dict>\n  <key>a</key>\n  <string>x</dict>\n</plist>", "line 4"},
      {"<plist version=\"1.0\">\n<dict>\n  <key>a</key>\n  <string>Tom & Jerry</string>\n</dict></plist>", "line 4"},
      {"<plist version=\"1.0\">\n<dict>\n  <key>name</key>\n  <strin>x</strin>\n</dict></plist>",
       "<strin> is not a property list element"},
      {"<plist version=\"1.0\">\n<dict>\n  <string>x</string>\n</dict></plist>", "<string> where <dict> expects a <key>"},
      {"<plist version=\"1.0\"><dict><key>a<b/></key><string>x</string></dict></plist>",
       "<b> inside <key>, which holds text only"},
      {"<html><body>not a plist</body></html>", "the document is <html>, not a <plist>"},
  };
  for (const auto& [text, expected] : cases) {
    std::string problem = problemOf(text);
    EXPECT_NE(problem.find(expected), std::string::npos) << text << "\ngave: " << problem;
  }
  EXPECT_TRUE(problemOf("<plist>\n<dict>\n\n<strin/>\n</dict></plist>").starts_with("line 4, character "));
}

TEST(PlistDiagnosis, EmptyAndDamagedBinaryFilesSaySo) {
  EXPECT_EQ(plistProblem(""), "the file is empty");
  EXPECT_NE(problemOf("bplist00abc").find("truncated"), std::string::npos);

  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string("com.example.notes"));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &bytes, &length);
  std::string binary(bytes, length);
  plist_to_bin_free(bytes);
  plist_free(dict);
  std::string problem = problemOf(binary.substr(0, binary.size() - 10));  // cut short
  EXPECT_NE(problem.find("binary property list"), std::string::npos) << problem;
  EXPECT_NE(problem.find("truncated"), std::string::npos) << problem;
  EXPECT_NE(problemOf("bplist15" + binary.substr(8)).find("version"), std::string::npos);
}

}  // namespace
}  // namespace tavero::platform
