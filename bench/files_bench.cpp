// 1 MiB of text written and read back by a page through the file system
// module, in 64 KiB requests, in the real web view; against the same work
// by the module's bytes operations in this process (its fastest way: the
// bytes the native road carries), and with plain file I/O. Medians of
// several rounds, and their ratios.
//
// Each page round is started by a callback and ends with the page's sync
// acknowledgement, so it includes one delivery and one acknowledgement
// (see callback_latency for their size) besides 2 seeks, 16 writes and 16
// reads.
//
//   files_bench [ROUNDS]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/CallbackScript.h"
#include "modules/TQFileSystem.h"
#include "BenchLine.h"
#include "PageBench.h"

using namespace tavero;
using bench::Clock;
using bench::median;

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kTotal = 1024 * 1024;

class TQBench : public bridge::TQW3CAction, public bench::ProbeState {
 public:
  TQBench() {
    addOperation("ready", [this](bridge::Invocation& call) { update([&] { callbackId = call.integer("callback"); }); });
    addOperation("done", [this](bridge::Invocation& call) {
      update([&] {
        lastRound = call.integer("round");
        allGood = allGood && call.flag("ok");
        if (!call.text("error").empty()) error = std::string(call.text("error"));
        doneTime = Clock::now();
      });
    });
  }
  int callbackId = 0;
  int lastRound = -2;
  bool allGood = true;
  std::string error;
  Clock::time_point doneTime;
};

std::string benchText() {
  const std::string line = "The quick brown fox jumps over the lazy dog, 0123456789 times.\n";
  std::string text;
  while (text.size() < kTotal) text += line;
  text.resize(kTotal);
  return text;
}

// The same bytes with plain POSIX calls: 16 writes, then 16 reads.
double plainMs(const std::filesystem::path& file, const std::string& text) {
  auto start = Clock::now();
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  for (size_t at = 0; at < kTotal; at += kChunk)
    if (::pwrite(fd, text.data() + at, kChunk, static_cast<off_t>(at)) != static_cast<ssize_t>(kChunk)) std::exit(1);
  ::close(fd);
  std::string back(kTotal, '\0');
  fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  for (size_t at = 0; at < kTotal; at += kChunk)
    if (::pread(fd, back.data() + at, kChunk, static_cast<off_t>(at)) != static_cast<ssize_t>(kChunk)) std::exit(1);
  ::close(fd);
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (back != text) std::exit(1);
  return ms;
}

// Formats each answer's callback script, as the engine would, and keeps it.
class ScriptKeeper : public bridge::CallbackDelivery {
 public:
  void invokeCallback(int callbackId, const std::optional<json::Value>& value, std::string_view) override {
    script = host::callbackScript(callbackId, value);
  }
  std::string script;
};

void runOperation(modules::TQFileSystem& module, const char* operation,
                  std::initializer_list<std::pair<const char*, std::string>> arguments) {
  auto object = std::make_shared<json::Object>();
  object->set("__source", "file:///bench/index.html");  // the page names itself in every call
  for (const auto& [key, value] : arguments) object->set(key, value);
  bridge::Invocation invocation(object);
  (*module.operation(operation))(invocation);
}

// Runs a bytes operation, as the native road's bytes calls do; its answer.
bridge::TQW3CAction::BytesAnswer runBytesOperation(modules::TQFileSystem& module, const char* operation,
                                                   std::initializer_list<std::pair<const char*, std::string>> arguments,
                                                   std::string_view bytes = {}) {
  auto object = std::make_shared<json::Object>();
  object->set("__source", "file:///bench/index.html");
  for (const auto& [key, value] : arguments) object->set(key, value);
  bridge::Invocation invocation(object);
  return (*module.bytesOperation(operation))(invocation, bytes);
}

// The module's own share, by its fastest way: the same 16 writes and 16
// reads as bytes operations called in process (the bytes beside the call,
// the answer's value and bytes at once); no bridge, no page.
double moduleMs(modules::TQFileSystem& module, const std::string& text) {
  auto start = Clock::now();
  for (size_t at = 0; at < kTotal; at += kChunk)
    runBytesOperation(module, "write", {{"fileSystemId", "1"}, {"path", "/bench.txt"}, {"offset", std::to_string(at)}},
                      std::string_view(text).substr(at, kChunk));
  std::string back;
  back.reserve(kTotal);
  for (size_t at = 0; at < kTotal; at += kChunk) {
    auto answer = runBytesOperation(module, "read", {{"fileSystemId", "1"}, {"path", "/bench.txt"},
                                                     {"offset", std::to_string(at)}, {"length", std::to_string(kChunk)}});
    back += answer.bytes;
  }
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (back != text) std::fprintf(stderr, "the module's reads failed\n"), std::exit(1);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!bench::prepareDisplay(xvfb)) return 1;

  const auto home = std::filesystem::temp_directory_path() / ("tavero-files-bench-" + std::to_string(::getpid()));
  auto settings = bench::pageBenchSettings("files-app", home);
  TQBench* bench = nullptr;
  bench::addProbe<TQBench>(settings, bench, [](bridge::CallbackDelivery&) { return std::make_unique<TQBench>(); });
  app::ShellApplication shell(std::move(settings));
  if (!bench::launchWithProbe(shell)) return 1;

  std::vector<double> pageMs;
  std::thread measure([&] {
    if (!bench->waitFor([&] { return bench->callbackId != 0 || bench->lastRound == -1; }) || bench->callbackId == 0) {
      shell.mainThread().quit();
      return;
    }
    for (int i = 0; i < rounds + 1; ++i) {
      auto start = Clock::now();
      shell.engine().invokeCallback(bench->callbackId, json::Value(i));
      if (!bench->waitFor([&] { return bench->lastRound == i; })) break;
      if (i > 0) pageMs.push_back(std::chrono::duration<double, std::milli>(bench->doneTime - start).count());  // round 0 warms up
    }
    shell.mainThread().quit();
  });
  shell.mainThread().run();
  measure.join();
  shell.terminate();

  if (pageMs.size() != static_cast<size_t>(rounds) || !bench->allGood)
    return std::fprintf(stderr, "the page's rounds failed: %s\n", bench->error.c_str()), 1;

  const std::string text = benchText();
  std::vector<double> directMs;
  for (int i = 0; i < rounds + 1; ++i) {
    double ms = plainMs(home / "plain.txt", text);
    if (i > 0) directMs.push_back(ms);
  }
  ScriptKeeper scripts;
  modules::TQFileSystem module(scripts, home / "module-file-systems");
  runOperation(module, "requestFileSystem", {{"__source", "file:///bench/index.html"}});
  runOperation(module, "getEntry", {{"fileSystemId", "1"}, {"path", "/"}, {"newPath", "bench.txt"}, {"create", "1"}});
  std::vector<double> inModuleMs;
  for (int i = 0; i < rounds + 1; ++i) {
    double ms = moduleMs(module, text);
    if (i > 0) inModuleMs.push_back(ms);
  }
  std::filesystem::remove_all(home);

  std::printf("1 MiB of text written then read back in 64 KiB pieces, median of %d rounds:\n", rounds);
  std::printf("  page through the bridge (16 writes, 16 reads, 2 seeks): %.2f ms\n", median(pageMs));
  std::printf("  plain file I/O in process (pwrite/pread):               %.3f ms\n", median(directMs));
  std::printf("  the module's operations in process (no bridge, no page):  %.3f ms\n", median(inModuleMs));
  std::printf("  page / the module in process: %.1fx\n", median(pageMs) / median(inModuleMs));
  std::printf("  page / plain file I/O: %.0fx\n", median(pageMs) / median(directMs));
  std::printf("  module in process / plain file I/O: %.1f\n", median(inModuleMs) / median(directMs));
  bench::printBenchLine("files_page_1mib", median(pageMs), "ms", "files_module_1mib", median(inModuleMs));
  bench::printBenchLine("files_module_1mib", median(inModuleMs), "ms", "plain_file_io", median(directMs));
  return 0;
}
