// The shell with its real web view (WebKitGTK, on a private X display when
// there is no screen): pages load, see their globals, call the bridge and
// receive callbacks. Pages report their findings through a test module.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "app/ShellApplication.h"
#include "json/JsonCodec.h"
#include "platform/linux/PlistBundleReader.h"
#include "platform/linux/WebKitWebViewHost.h"
#include "platform/linux/XvfbDisplay.h"
#include "support/LoopbackClient.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

// GTK is initialised once per process, on a private display so that no
// window appears on a developer's screen (the screen serves only when Xvfb
// is missing).
class DisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    auto started = platform::XvfbDisplay::start();
    if (auto* xvfb = std::get_if<std::unique_ptr<platform::XvfbDisplay>>(&started)) {
      xvfb_ = std::move(*xvfb);
      setenv("DISPLAY", xvfb_->display().c_str(), 1);
      setenv("GDK_BACKEND", "x11", 1);
    } else {
      ASSERT_TRUE(std::getenv("DISPLAY")) << std::get<std::string>(started);
    }
    setenv("NO_AT_BRIDGE", "1", 1);
    auto error = platform::initializeGtk();
    ASSERT_FALSE(error) << *error;
  }
  void TearDown() override { xvfb_.reset(); }

 private:
  std::unique_ptr<platform::XvfbDisplay> xvfb_;
};
const auto* const display = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

// What pages report: "Probe#echo" calls back with the value and the page's
// name, "Probe#verdict" hands the page's findings to the test.
class TQProbe : public bridge::TQW3CAction {
 public:
  explicit TQProbe(bridge::TQCallbackDelivery& callbacks) {
    addOperation("echo", [&callbacks](bridge::TQInvocation& call) {
      json::Object answer;
      answer.append("value", std::string(call.text("value")));
      answer.append("page", call.pageName());
      callbacks.invokeCallback(call.integer("success"), json::Value(std::move(answer)), call.pageName());
    });
    addOperation("verdict", [this](bridge::TQInvocation& call) {
      std::lock_guard lock(mutex_);
      const json::Value* verdict = call.arguments().find("verdict");
      verdict_ = verdict && verdict->isObject() ? verdict->asObject() : json::Object{};
    });
  }
  std::optional<json::Object> verdict() {
    std::lock_guard lock(mutex_);
    return verdict_;
  }

 private:
  std::mutex mutex_;
  std::optional<json::Object> verdict_;
};

class WebViewEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("tavero-e2e-" + std::to_string(::getpid()));
    fs::remove_all(home_);
  }
  void TearDown() override { fs::remove_all(home_); }

  std::unique_ptr<ShellApplication> makeShell(const std::string& bundleName) {
    auto bundle = platform::readBundle(fs::path(TAVERO_E2E_DIR) / bundleName);
    EXPECT_TRUE(std::holds_alternative<platform::BundleInfo>(bundle));
    ShellApplication::Settings settings;
    settings.bundle = std::get<platform::BundleInfo>(bundle);
    settings.home = platform::HomeFolders{home_};
    platform::createHomeFolders(settings.home);
    settings.device = platform::DeviceInfo{.name = "Kim's \"test\" phone",
                                           .modelCode = "iPhone4,1",
                                           .genericModel = "Linux desktop",
                                           .systemVersion = "12",
                                           .macAddress = platform::MacAddress{0, 0x1e, 0xc2, 0xaa, 0xbb, 0x0f}};
    settings.extraModules = [this](bridge::ModuleRegistry& modules, bridge::TQCallbackDelivery& callbacks) {
      modules.add("TQProbe", [this, &callbacks] {
        auto probe = std::make_unique<TQProbe>(callbacks);
        probe_ = probe.get();
        return probe;
      });
    };
    return std::make_unique<ShellApplication>(std::move(settings));
  }

  // Serves the main loop until the page has reported (or 30 s passed).
  std::optional<json::Object> waitForVerdict(ShellApplication& shell) {
    for (int slice = 0; slice < 300; ++slice) {
      if (probe_) {
        if (auto verdict = probe_->verdict()) return verdict;
      }
      shell.mainThread().runFor(std::chrono::milliseconds(100));
    }
    return std::nullopt;
  }

  static std::string text(const json::Object& object) {
    return json::JsonCodec::jsonStringValueWithIndentLevel(object, json::JsonCodec::jsonDoNotIndent);
  }

  fs::path home_;
  TQProbe* probe_ = nullptr;  // owned by the shell's module registry
};

TEST_F(WebViewEndToEnd, APageSeesItsGlobalsFromItsFirstScriptCallsTheBridgeAndGetsItsCallback) {
  auto shell = makeShell("bridge-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  for (const char* check : {"os", "isQL", "platformName", "name", "uuid", "noScheme", "callback"}) {
    const json::Value* passed = verdict->find(check);
    EXPECT_TRUE(passed && *passed == json::Value(true)) << check << " in " << text(*verdict);
  }
  shell->terminate();
}

TEST_F(WebViewEndToEnd, OnlyTheShellsOwnWebViewsMayUseTheBridge) {
  auto shell = makeShell("bridge-app");
  ASSERT_TRUE(shell->launch());
  ASSERT_TRUE(waitForVerdict(*shell));  // the page's own calls went through
  // This process is not one of the web view's processes: a file page in
  // another browser would look just like this request.
  testing::LoopbackClient client(bridge::QLTaveroBridge::kDefaultPort);
  client.send("GET /?command=Contact%23find HTTP/1.1\r\nHost: localhost:3000\r\nOrigin: null\r\n\r\n");
  auto answer = client.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 403);
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
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "SQLCipher is loaded without RTLD_DEEPBIND under the sanitizer, so it cannot share the "
                  "process with the web view's SQLite";
#endif
  auto shell = makeShell("sql-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  for (const char* check : {"localStorage", "insertId", "rows", "attachRefused"}) {
    const json::Value* passed = verdict->find(check);
    EXPECT_TRUE(passed && *passed == json::Value(true)) << check << " in " << text(*verdict);
  }
  auto file = platform::HomeFolders{home_}.applicationSupport() / "sqlite_databases" / "1.db";
  ASSERT_TRUE(fs::exists(file));
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.find("SQLite format 3"), std::string::npos);  // encrypted on disk
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app
