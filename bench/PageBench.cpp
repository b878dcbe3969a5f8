#include "PageBench.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <variant>

#include "platform/linux/PlistBundleReader.h"
#include "platform/linux/WebKitWebViewHost.h"

namespace tavero::bench {

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool prepareDisplay(std::unique_ptr<platform::XvfbDisplay>& display) {
  if (!std::getenv("DISPLAY")) {
    auto started = platform::XvfbDisplay::start();
    if (auto* error = std::get_if<std::string>(&started)) {
      std::fprintf(stderr, "%s\n", error->c_str());
      return false;
    }
    display = std::move(std::get<std::unique_ptr<platform::XvfbDisplay>>(started));
    display->makeDefault();
  }
  setenv("NO_AT_BRIDGE", "1", 1);
  if (auto error = platform::initializeGtk()) {
    std::fprintf(stderr, "%s\n", error->c_str());
    return false;
  }
  return true;
}

app::ShellApplication::Settings pageBenchSettings(const std::string& bundle, const std::filesystem::path& home) {
  std::filesystem::remove_all(home);
  app::ShellApplication::Settings settings;
  settings.bundle = std::get<platform::BundleInfo>(platform::readBundle(std::string(TAVERO_BENCH_DIR "/") + bundle));
  settings.home = platform::HomeFolders{home};
  platform::createHomeFolders(settings.home);
  settings.device = platform::DeviceInfo{.name = "bench", .modelCode = "x86_64", .genericModel = "Linux desktop",
                                         .systemVersion = "12", .macAddress = std::nullopt};
  return settings;
}

bool launchWithProbe(app::ShellApplication& shell) {
  shell.modules().sharedInstance("TQBench");
  if (shell.launch()) return true;
  std::fprintf(stderr, "the bench page did not load\n");
  return false;
}

}  // namespace tavero::bench
