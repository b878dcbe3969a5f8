// What every end-to-end test shares: a private display with GTK set up once
// per process (EndToEndMain.cpp), a probe module through which pages report
// their findings, and a fixture that makes a shell for one of the test
// bundles in tests/e2e/<bundle> with a fresh home.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/ShellApplication.h"
#include "json/JsonCodec.h"

namespace tavero::app::e2e {

namespace fs = std::filesystem;

// What a run of the `tavero` binary printed, and how it ended.
struct CommandOutput {
  int exitStatus = -1;  // -1: it did not end by itself in time (it was killed)
  std::string out;
  std::string err;
};

// What pages report: "Probe#echo" calls back with the value and the page's
// name, "Probe#text" answers a synchronous call with its value, and
// "Probe#verdict" hands the page's findings to the test.
class TQProbe : public bridge::TQW3CAction {
 public:
  explicit TQProbe(bridge::CallbackDelivery& callbacks);
  std::optional<json::Object> verdict();
  void clearVerdict();

 private:
  std::mutex mutex_;
  std::optional<json::Object> verdict_;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A shell for the bundle tests/e2e/<bundleName>, with its home in home_.
  // `adjust` may change the settings before the shell is made.
  std::unique_ptr<ShellApplication> makeShell(const std::string& bundleName,
                                              const std::function<void(ShellApplication::Settings&)>& adjust = {});

  // Serves the main loop until the page has reported (or `limit` passed).
  std::optional<json::Object> waitForVerdict(ShellApplication& shell,
                                             std::chrono::milliseconds limit = std::chrono::seconds(30));

  // Serves the main loop until `condition` holds (or `limit` passed).
  bool serveUntil(ShellApplication& shell, const std::function<bool()>& condition,
                  std::chrono::milliseconds limit = std::chrono::seconds(30));

  // Runs `tavero device --home <home_> ARGS...` (the real binary, as a
  // developer would) while serving the shell's main loop, so that commands
  // that need the main thread get answered.
  CommandOutput device(ShellApplication& shell, const std::vector<std::string>& args,
                       std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Runs the `tavero` binary with ARGS and the extra environment `env`
  // ("NAME=value"), serving the shell's main loop until it ends.
  CommandOutput runTavero(ShellApplication& shell, const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {},
                          std::chrono::milliseconds limit = std::chrono::seconds(30));

  // Expects every key of `checks` to be true in `verdict`.
  static void expectAllTrue(const json::Object& verdict, std::initializer_list<const char*> checks);

  static std::string text(const json::Object& object) {
    return json::JsonCodec::jsonStringValueWithIndentLevel(object, json::JsonCodec::jsonDoNotIndent);
  }

  fs::path home_;
  TQProbe* probe_ = nullptr;  // owned by the shell's module registry
};

}  // namespace tavero::app::e2e
