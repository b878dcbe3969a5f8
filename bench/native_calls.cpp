// Round trips of page calls through the web process extension (a queued
// call, a blocking synchronous one) in the real web view, against WebKit's
// bare script message channel measured in the same run (bare_channel beside
// this program, run before and after the page), and against the same calls
// on the shell's message channel and a synchronous XHR to the HTTP bridge.
// The page times runs of 1,000 calls (one after the other, then all at
// once); this prints the median of 41 runs for each road and the ratios
// against the bare channel.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <mutex>
#include <vector>

#include "BenchLine.h"
#include "CallTimings.h"
#include "PageBench.h"

using namespace tavero;

namespace {

// The bare channel's median round trip, from bare_channel beside this
// program; 0 when it cannot be had.
double bareChannelMedian() {
  std::error_code ec;
  auto program = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "bare_channel";
  FILE* output = popen((program.string() + " 1000").c_str(), "r");
  if (!output) return 0;
  char line[256];
  double median = 0;
  while (std::fgets(line, sizeof(line), output)) {
    const char* colon = std::strrchr(line, ':');
    if (colon) median = std::atof(colon + 1);
  }
  pclose(output);
  return median;
}

}  // namespace

int main() {
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!bench::prepareDisplay(xvfb)) return 1;
  // The bare channel before and after the shell's page: on a shared
  // machine the load changes, and the ratios take the mean of both.
  const double bareBefore = bareChannelMedian();
  if (bareBefore <= 0) return std::fprintf(stderr, "bare_channel gave no median\n"), 1;

  std::optional<json::Object> results = bench::pageCallTimings("native-calls-app");
  if (!results) return 1;
  const double bareAfter = bareChannelMedian();
  if (bareAfter <= 0) return std::fprintf(stderr, "bare_channel gave no median\n"), 1;
  const double bare = (bareBefore + bareAfter) / 2;
  const json::Value* road = results->find("road");
  std::printf("the page client's road: %s\n",
              road && road->isArray() && !road->asArray().empty() ? road->asArray()[0].asString().c_str() : "?");

  std::map<std::string, double> medians = bench::mediansOf(*results, "road");
  std::printf("page call round trips, median of runs of 1,000 calls (ms per call):\n");
  std::printf("  %-26s %.4f (before the page %.4f, after %.4f)\n", "bareWebKitChannel", bare, bareBefore, bareAfter);
  for (const char* name : {"nativeQueued", "nativeSync", "channelQueued", "channelSync", "httpSyncXHR"})
    std::printf("  %-26s %.4f   ratio to the bare channel %.2f\n", name, medians[name], medians[name] / bare);
  std::printf("the same, 1,000 calls made at once (ms per call):\n");
  for (const char* name : {"nativeQueuedOverlapped", "channelQueuedOverlapped"})
    std::printf("  %-26s %.4f\n", name, medians[name]);
  std::printf("native queued call vs bare channel: ratio %.2f (goal at most 0.5)\n", medians["nativeQueued"] / bare);
  std::printf("native sync call vs bare channel: ratio %.2f (goal at most 1)\n", medians["nativeSync"] / bare);
  for (const char* name : {"nativeQueued", "nativeSync", "channelQueued", "channelSync", "httpSyncXHR"})
    bench::printBenchLine((std::string("page_call_") + name).c_str(), medians[name], "ms", "bare_channel", bare);
  return 0;
}
