// Time from a module's invokeCallback to the page's function running, in
// the real web view. The page acknowledges each delivery with a sync bridge
// call, so each round trip is delivery + acknowledgement; the page also
// times the acknowledgement alone (a mean: its clock has whole milliseconds
// only), and the difference estimates the delivery.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "app/ShellApplication.h"
#include "platform/linux/PlistBundleReader.h"
#include "platform/linux/XvfbDisplay.h"

using namespace tavero;
using Clock = std::chrono::steady_clock;

namespace {

class TQBench : public bridge::TQW3CAction {
 public:
  TQBench() {
    addOperation("ready", [this](bridge::TQInvocation& call) { update([&] { callbackId = call.integer("callback"); }); });
    addOperation("ack", [this](bridge::TQInvocation& call) {
      update([&] {
        lastAck = call.integer("n");
        ackTime = Clock::now();
      });
    });
    addOperation("ping", [](bridge::TQInvocation&) {});
    addOperation("pingMean", [this](bridge::TQInvocation& call) {
      update([&] { pingMeanMs = std::atof(std::string(call.text("ms")).c_str()); });
    });
  }
  template <class Change>
  void update(Change change) {
    {
      std::lock_guard lock(mutex);
      change();
    }
    changed.notify_all();
  }
  template <class Condition>
  bool waitFor(Condition condition) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), condition);
  }

  std::mutex mutex;
  std::condition_variable changed;
  int callbackId = 0;
  int lastAck = -1;
  Clock::time_point ackTime;
  double pingMeanMs = -1;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!std::getenv("DISPLAY")) {
    auto started = platform::XvfbDisplay::start();
    xvfb = std::move(std::get<std::unique_ptr<platform::XvfbDisplay>>(started));
    setenv("DISPLAY", xvfb->display().c_str(), 1);
  }
  setenv("NO_AT_BRIDGE", "1", 1);
  if (auto error = platform::initializeGtk()) return std::fprintf(stderr, "%s\n", error->c_str()), 1;

  app::ShellApplication::Settings settings;
  settings.bundle = std::get<platform::BundleInfo>(platform::readBundle(TAVERO_BENCH_DIR "/callback-app"));
  settings.home = platform::HomeFolders{std::filesystem::temp_directory_path() / "tavero-callback-bench"};
  platform::createHomeFolders(settings.home);
  settings.device = platform::DeviceInfo{.name = "bench", .modelCode = "x86_64", .genericModel = "Linux desktop",
                                         .systemVersion = "12", .macAddress = std::nullopt};
  TQBench* bench = nullptr;
  settings.extraModules = [&](bridge::ModuleRegistry& modules, bridge::TQCallbackDelivery&) {
    modules.add("TQBench", [&] {
      auto module = std::make_unique<TQBench>();
      bench = module.get();
      return module;
    });
  };
  app::ShellApplication shell(std::move(settings));
  shell.modules().sharedInstance("TQBench");  // made before the page can ask for it
  if (!shell.launch()) return std::fprintf(stderr, "the bench page did not load\n"), 1;

  constexpr int kDeliveries = 1000;
  std::vector<double> roundTrips;
  std::thread measure([&] {
    bench->waitFor([&] { return bench->callbackId != 0; });
    for (int i = 0; i < kDeliveries; ++i) {
      auto start = Clock::now();
      shell.engine().invokeCallback(bench->callbackId, json::Value(i));
      if (!bench->waitFor([&] { return bench->lastAck == i; })) break;
      roundTrips.push_back(std::chrono::duration<double, std::milli>(bench->ackTime - start).count());
    }
    shell.engine().invokeCallback(bench->callbackId, json::Value("ping"));
    bench->waitFor([&] { return bench->pingMeanMs >= 0; });
    shell.mainThread().quit();
  });
  shell.mainThread().run();
  measure.join();
  shell.terminate();

  if (roundTrips.size() != kDeliveries) return std::fprintf(stderr, "deliveries went missing\n"), 1;
  double roundTrip = median(roundTrips);
  std::printf("deliveries: %d\n", kDeliveries);
  std::printf("median invokeCallback -> page -> sync acknowledgement: %.3f ms\n", roundTrip);
  std::printf("mean sync acknowledgement alone (timed in the page): %.3f ms\n", bench->pingMeanMs);
  std::printf("delivery, median round trip less mean acknowledgement: %.3f ms\n", roundTrip - bench->pingMeanMs);
  return 0;
}
