#include "base/MainThread.h"

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "log/Log.h"

namespace tavero::base {
namespace {

std::atomic<std::thread::id> recordedMainThread;

}  // namespace

void claimMainThread() { recordedMainThread.store(std::this_thread::get_id()); }

void requireMainThread(std::string_view where) {
  auto main = recordedMainThread.load();
  if (main == std::thread::id() || main == std::this_thread::get_id()) return;
  log::error("internal error: " + std::string(where) + " was called off the main thread; stopping");
  std::abort();
}

}  // namespace tavero::base
