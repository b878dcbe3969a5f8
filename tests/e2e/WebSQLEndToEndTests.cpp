// Web SQL in the real web view: the page client (examples/client/websql.js)
// over the bridge against the SQL module, as app developers use it.
#include <fstream>

#include "e2e/EndToEndFixture.h"

namespace tavero::app::e2e {
namespace {

using WebSQLEndToEnd = EndToEndTest;

TEST_F(WebSQLEndToEnd, PagesGetTheirTextsValuesCountsErrorsArgumentChecksAndResultObjectsAsWebSQLGivesThem) {
  auto shell = makeShell("websql-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell, std::chrono::seconds(60));
  ASSERT_TRUE(verdict) << "the page never reported";
  EXPECT_FALSE(verdict->contains("exception")) << text(*verdict);
  expectAllTrue(*verdict, {"textArguments", "rawKey", "controlCharacters", "infinity", "binding", "rowValues", "argumentCount",
                           "statementList", "counts", "resultObjects", "readOnly", "argumentChecks", "statementCodes",
                           "openWhileWriting", "ordering", "errorCallbacks", "batches", "readThenWrite",
                           "unknownDatabase", "hostileBatches"});
  // The passphrase "[1,2]" encrypted the first database.
  std::ifstream file(platform::HomeFolders{home_}.applicationSupport() / "sqlite_databases" / "1.db",
                     std::ios::binary);
  std::string head(16, '\0');
  ASSERT_TRUE(file.read(head.data(), 16));
  EXPECT_NE(head, std::string("SQLite format 3\0", 16));
  shell->terminate();
}

TEST_F(WebSQLEndToEnd, ATransactionAPageLeftOpenEndsWithItsDocument) {
  auto shell = makeShell("websql-app", [](ShellApplication::Settings& settings) {
    settings.bundle.indexPage = "abandon.html";
  });
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell, std::chrono::seconds(60));
  ASSERT_TRUE(verdict) << "the page never reported";
  expectAllTrue(*verdict, {"reason", "rolledBack", "write"});
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
