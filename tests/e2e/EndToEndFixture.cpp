#include "e2e/EndToEndFixture.h"

#include <unistd.h>

#include "platform/linux/PlistBundleReader.h"

namespace tavero::app::e2e {

TQProbe::TQProbe(bridge::TQCallbackDelivery& callbacks) {
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

std::optional<json::Object> TQProbe::verdict() {
  std::lock_guard lock(mutex_);
  return verdict_;
}

void TQProbe::clearVerdict() {
  std::lock_guard lock(mutex_);
  verdict_.reset();
}

void EndToEndTest::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  home_ = fs::temp_directory_path() /
          ("tavero-e2e-" + std::to_string(::getpid()) + "-" + test->test_suite_name() + "-" + test->name());
  fs::remove_all(home_);
}

void EndToEndTest::TearDown() { fs::remove_all(home_); }

std::unique_ptr<ShellApplication> EndToEndTest::makeShell(
    const std::string& bundleName, const std::function<void(ShellApplication::Settings&)>& adjust) {
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
  if (adjust) adjust(settings);
  return std::make_unique<ShellApplication>(std::move(settings));
}

std::optional<json::Object> EndToEndTest::waitForVerdict(ShellApplication& shell, std::chrono::milliseconds limit) {
  std::optional<json::Object> verdict;
  serveUntil(shell, [&] { return probe_ && (verdict = probe_->verdict()).has_value(); }, limit);
  return verdict;
}

bool EndToEndTest::serveUntil(ShellApplication& shell, const std::function<bool()>& condition,
                              std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    shell.mainThread().runFor(std::chrono::milliseconds(20));
  }
  return true;
}

void EndToEndTest::expectAllTrue(const json::Object& verdict, std::initializer_list<const char*> checks) {
  for (const char* check : checks) {
    const json::Value* passed = verdict.find(check);
    EXPECT_TRUE(passed && *passed == json::Value(true)) << check << " in " << text(verdict);
  }
}

}  // namespace tavero::app::e2e
