// Round trips of page calls in the real web view, by each road a page can
// take: the page channel (a queued call, a synchronous call, a queued call
// until its callback has run in the page) and the HTTP bridge (fetch, sync
// XHR). The page times runs of 200 calls; this prints the median of 41 runs
// for each road, and the channel's ratios against HTTP.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "BenchLine.h"
#include "CallTimings.h"
#include "PageBench.h"

using namespace tavero;

int main() {
  // The page client's roads before the web process extension: native_calls
  // measures that one.
  setenv("TAVERO_WEB_EXTENSION", "off", 1);
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!bench::prepareDisplay(xvfb)) return 1;
  std::optional<json::Object> results = bench::pageCallTimings("page-calls-app");
  if (!results) return 1;
  std::map<std::string, double> medians = bench::mediansOf(*results);
  std::printf("page call round trips, median of runs of 200 calls (ms per call):\n");
  for (const char* road : {"channelQueued", "channelSync", "channelCallback", "httpFetchQueued", "httpSyncXHR"})
    std::printf("  %-26s %.4f\n", road, medians[road]);
  std::printf("the same, 200 calls made at once (ms per call):\n");
  for (const char* road : {"channelQueuedOverlapped", "channelSyncOverlapped", "httpFetchQueuedOverlapped"})
    std::printf("  %-26s %.4f\n", road, medians[road]);
  std::printf("channel queued call vs HTTP fetch: ratio %.2f\n", medians["channelQueued"] / medians["httpFetchQueued"]);
  std::printf("channel sync call vs HTTP sync XHR: ratio %.2f\n", medians["channelSync"] / medians["httpSyncXHR"]);
  std::printf("overlapped channel queued calls vs HTTP fetches: ratio %.2f\n",
              medians["channelQueuedOverlapped"] / medians["httpFetchQueuedOverlapped"]);
  bench::printBenchLine("page_call_channel_queued", medians["channelQueued"], "ms", "http_fetch_queued",
                        medians["httpFetchQueued"]);
  bench::printBenchLine("page_call_channel_sync", medians["channelSync"], "ms", "http_sync_xhr", medians["httpSyncXHR"]);
  return 0;
}
