// Time from a module's invokeCallback to the page's function running, in
// the real web view. The page acknowledges each delivery with a sync bridge
// call, so each round trip is delivery + acknowledgement; the page also
// times the acknowledgement alone (a mean: its clock has whole milliseconds
// only), and the difference estimates the delivery.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchLine.h"
#include "PageBench.h"

using namespace tavero;
using bench::Clock;
using bench::median;

namespace {

class TQBench : public bridge::TQW3CAction, public bench::ProbeState {
 public:
  TQBench() {
    addOperation("ready", [this](bridge::Invocation& call) { update([&] { callbackId = call.integer("callback"); }); });
    addOperation("ack", [this](bridge::Invocation& call) {
      update([&] {
        lastAck = call.integer("n");
        ackTime = Clock::now();
      });
    });
    addOperation("ping", [](bridge::Invocation&) {});
    addOperation("pingMean", [this](bridge::Invocation& call) {
      update([&] { pingMeanMs = std::atof(std::string(call.text("ms")).c_str()); });
    });
  }
  int callbackId = 0;
  int lastAck = -1;
  Clock::time_point ackTime;
  double pingMeanMs = -1;
};

}  // namespace

int main() {
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!bench::prepareDisplay(xvfb)) return 1;

  auto settings = bench::pageBenchSettings("callback-app", std::filesystem::temp_directory_path() / "tavero-callback-bench");
  TQBench* bench = nullptr;
  bench::addProbe<TQBench>(settings, bench, [](bridge::CallbackDelivery&) { return std::make_unique<TQBench>(); });
  app::ShellApplication shell(std::move(settings));
  if (!bench::launchWithProbe(shell)) return 1;

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
  bench::printBenchLine("callback_round_trip", roundTrip, "ms", "page_sync_ack", bench->pingMeanMs);
  return 0;
}
