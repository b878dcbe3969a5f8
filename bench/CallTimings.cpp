#include "CallTimings.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "PageBench.h"

namespace tavero::bench {

namespace {

class TQBench : public bridge::TQW3CAction {
 public:
  explicit TQBench(bridge::CallbackDelivery& callbacks) {
    addOperation("ping", [](bridge::Invocation&) {});
    addOperation("echo", [&callbacks](bridge::Invocation& call) {
      callbacks.invokeCallback(call.integer("success"), json::Value(true), call.pageName());
    });
    addOperation("results", [this](bridge::Invocation& call) {
      std::lock_guard lock(mutex);
      const json::Value* value = call.arguments().find("results");
      if (value && value->isObject()) results = value->asObject();
    });
  }
  std::mutex mutex;
  std::optional<json::Object> results;
};

}  // namespace

std::optional<json::Object> pageCallTimings(const std::string& bundle) {
  auto settings = pageBenchSettings(bundle, std::filesystem::temp_directory_path() / ("tavero-" + bundle + "-bench"));
  settings.port = 0;
  TQBench* probe = nullptr;
  addProbe<TQBench>(settings, probe, [](bridge::CallbackDelivery& callbacks) {
    return std::make_unique<TQBench>(callbacks);
  });
  app::ShellApplication shell(std::move(settings));
  if (!launchWithProbe(shell)) return std::nullopt;
  std::optional<json::Object> results;
  shell.mainThread().runUntil(
      [&] {
        if (!probe) return false;
        std::lock_guard lock(probe->mutex);
        results = probe->results;
        return results.has_value();
      },
      std::chrono::minutes(5));
  shell.terminate();
  if (!results) std::fprintf(stderr, "the page did not report\n");
  return results;
}

std::map<std::string, double> mediansOf(const json::Object& report, const std::string& skip) {
  std::map<std::string, double> medians;
  for (const auto& member : report) {
    if (member.key == skip || !member.value.isArray()) continue;
    std::vector<double> values;
    for (const auto& sample : member.value.asArray()) values.push_back(sample.toDouble());
    medians[member.key] = median(std::move(values));
  }
  return medians;
}

}  // namespace tavero::bench
