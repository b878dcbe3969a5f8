// The shell with its real web view (WebKitGTK, on a private X display when
// there is no screen): pages load, see their globals, call the bridge and
// receive callbacks. Pages report their findings through a test module.
#include <fstream>
#include <iterator>

#include "base/FileRead.h"
#include "e2e/EndToEndFixture.h"
#include "support/LoopbackClient.h"

namespace tavero::app::e2e {
namespace {

using WebViewEndToEnd = EndToEndTest;

TEST_F(WebViewEndToEnd, APageSeesItsGlobalsFromItsFirstScriptCallsTheBridgeAndGetsItsCallback) {
  auto shell = makeShell("bridge-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  expectAllTrue(*verdict, {"os", "isQL", "platformName", "name", "uuid", "noScheme", "callback"});
  shell->terminate();
}

TEST_F(WebViewEndToEnd, OnlyTheShellsOwnWebViewsMayUseTheBridge) {
  auto shell = makeShell("bridge-app");
  ASSERT_TRUE(shell->launch());
  ASSERT_TRUE(waitForVerdict(*shell));  // the page's own calls went through
  // This process is not one of the web view's processes: a file page in
  // another browser would look just like this request. It is reset before
  // its request is read.
  const uint16_t port = shell->bridge().port();
  testing::LoopbackClient client(port);
  client.send("GET /?command=Contact%23find HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
              "\r\nOrigin: null\r\n\r\n");
  EXPECT_FALSE(client.readAnswer());
  EXPECT_TRUE(client.waitForClose());
  shell->terminate();
}

TEST_F(WebViewEndToEnd, LocalStorageSurvivesBackupWipeRestoreAndRelaunch) {
  {
    auto shell = makeShell("storage-app");
    ASSERT_TRUE(shell->launch());
    auto verdict = waitForVerdict(*shell);
    ASSERT_TRUE(verdict);
    EXPECT_EQ(verdict->find("launches")->toInt64(), 1) << text(*verdict);
    shell->terminate();  // backs up the local storage
  }
  // The web view's own files are gone: only the backup can bring the count back.
  fs::remove_all(platform::HomeFolders{home_}.localStorageFolder());
  probe_ = nullptr;
  auto shell = makeShell("storage-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict);
  EXPECT_EQ(verdict->find("launches")->toInt64(), 2) << text(*verdict);
  shell->terminate();
}

TEST_F(WebViewEndToEnd, APageUsesAnEncryptedDatabaseBesideTheWebViewsOwnSQLite) {
  auto shell = makeShell("sql-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  expectAllTrue(*verdict, {"localStorage", "insertId", "rows", "attachRefused"});
  auto file = platform::HomeFolders{home_}.applicationSupport() / "sqlite_databases" / "1.db";
  ASSERT_TRUE(fs::exists(file));
  std::string bytes = base::readFileText(file).value_or("");
  EXPECT_EQ(bytes.find("SQLite format 3"), std::string::npos);  // encrypted on disk
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
