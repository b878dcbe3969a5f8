// Web SQL from a page, in the real web view: one transaction of 2,000
// INSERTs through examples/client/websql.js, plain and encrypted, and the
// 2,000 rows read back (every column of every row, ten times a run, see
// kReads). Medians over several runs (the page times each run
// itself), against the same work done on the SQL module in this process
// without page or bridge (statement answers written as JSON text, as the
// bridge does), measured in the same run: one in-process run right before
// each of the page's, so that a change of load on the shared machine moves
// both alike.
//
//   websql_page [RUNS]     (default 7 runs of each kind)
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "json/JsonCodec.h"
#include "modules/TQSQLite.h"
#include "BenchLine.h"
#include "PageBench.h"

using namespace tavero;
using bench::Clock;
using bench::median;

namespace {

constexpr int kRows = 2000;
// The rows are read back this many times per run, in as many read
// transactions, and a read's time is the mean: the page's clock counts
// whole milliseconds, too coarse for one read.
constexpr int kReads = 10;

struct Times {
  std::vector<double> insertMs, readMs;
  std::vector<double> timerGapMs;  // the longest gap between a page timer's ticks during the inserts
};

// Hands the page its runs, alternating plain and encrypted, and keeps what
// it reports. `beforeRun(mode)` runs before each page run is handed out,
// while the page waits for it: the baseline's runs alternate with the
// page's, so that a change of load on the machine moves both alike.
class TQBench : public bridge::TQW3CAction {
 public:
  TQBench(int runs, std::function<void(const std::string& mode)> beforeRun) : beforeRun_(std::move(beforeRun)) {
    for (int i = 0; i < runs; ++i) {
      queue_.push_back("plain");
      queue_.push_back("encrypted");
    }
    addOperation("next", [this](bridge::Invocation& call) {
      std::string mode;
      {
        std::lock_guard lock(mutex_);
        if (queue_.empty() || !error.empty()) {
          finished_ = true;
          changed_.notify_all();
          call.setResult("done");
          return;
        }
        mode = queue_.front();
        queue_.erase(queue_.begin());
      }
      beforeRun_(mode);
      call.setResult(mode);
    });
    addOperation("result", [this](bridge::Invocation& call) {
      std::lock_guard lock(mutex_);
      if (!call.text("error").empty()) {
        error = std::string(call.text("error"));
        return;
      }
      Times& times = results[std::string(call.text("mode"))];
      times.insertMs.push_back(std::atof(std::string(call.text("insertMs")).c_str()));
      times.readMs.push_back(std::atof(std::string(call.text("readMs")).c_str()));
      times.timerGapMs.push_back(std::atof(std::string(call.text("gapMs")).c_str()));
    });
  }
  bool waitUntilFinished() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(10), [&] { return finished_; });
  }

  std::map<std::string, Times> results;  // by mode
  std::string error;

 private:
  std::function<void(const std::string& mode)> beforeRun_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> queue_;
  bool finished_ = false;
};

// The module answers nothing through callbacks here.
class NoCallbacks : public bridge::CallbackDelivery {
 public:
  void invokeCallback(int, const std::optional<json::Value>&, std::string_view) override {}
};

// The page's work on a TQSQLite of this process: each call as the bridge
// would make it, each answer written as JSON text.
class InProcess {
 public:
  explicit InProcess(const std::filesystem::path& folder) : sqlite_(callbacks_, folder) {}

  void run(const std::string& mode, int number, Times& times) {
    Args open = {{"name", "bench-" + mode + "-" + std::to_string(number)}, {"__source", "file:///bench/index.html"}};
    if (mode == "encrypted") open.emplace_back("passphrase", "bench passphrase");
    std::string db = call("openDatabase", open).asObject().find("id")->asString();
    batch(db, false, {statement("CREATE TABLE item (id INTEGER PRIMARY KEY, name TEXT, price REAL, note TEXT)",
                                json::Array{}, true)});

    auto start = Clock::now();
    json::Array inserts;
    for (int i = 0; i < kRows; ++i) {
      inserts.push_back(statement("INSERT INTO item (id, name, price, note) VALUES (?, ?, ?, ?)",
                                  json::Array{i, "item " + std::to_string(i), i * 1.25,
                                              "a short note about item number " + std::to_string(i)},
                                  true));
    }
    batch(db, false, std::move(inserts));
    times.insertMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

    start = Clock::now();
    for (int read = 0; read < kReads; ++read)
      batch(db, true, {statement("SELECT id, name, price, note FROM item", json::Array{}, false)});
    times.readMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kReads);
  }

 private:
  using Args = std::vector<std::pair<std::string, json::Value>>;

  json::Value call(const std::string& operation, const Args& args) {
    auto object = std::make_shared<json::Object>();
    object->set("__source", json::Value("file:///bench/index.html"));  // the page names itself in every call
    for (const auto& [key, value] : args) object->set(key, value);
    bridge::Invocation invocation(object);
    (*sqlite_.operation(operation))(invocation);
    if (!invocation.result()) return json::Value();
    answered_ += json::JsonCodec::jsonStringForValue(*invocation.result()).size();  // what the bridge would send
    return *invocation.result();
  }
  static json::Value statement(const char* sql, json::Array arguments, bool quiet) {
    return json::Array{sql, std::move(arguments), quiet};
  }
  // One transaction in one call: opened, its statements run, committed.
  void batch(const std::string& db, bool readOnly, json::Array statements) {
    json::Value answer = call("executeBatch", {{"databaseId", db},
                                               {"readOnly", readOnly ? "true" : "false"},
                                               {"statements", std::move(statements)},
                                               {"commit", "true"}});
    const json::Value* committed = answer.isObject() ? answer.asObject().find("committed") : nullptr;
    if (!committed) {
      std::fprintf(stderr, "in-process batch failed: %s\n", json::JsonCodec::jsonStringForValue(answer).c_str());
      std::exit(1);
    }
  }

  NoCallbacks callbacks_;
  modules::TQSQLite sqlite_;
  size_t answered_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!bench::prepareDisplay(xvfb)) return 1;

  const auto home = std::filesystem::temp_directory_path() / ("tavero-websql-bench-" + std::to_string(::getpid()));
  auto settings = bench::pageBenchSettings("websql-app", home / "page");
  // The same work on a module of this process, one run before each of the page's.
  InProcess module(home / "in-process");
  std::map<std::string, Times> inProcess;
  std::map<std::string, int> runsMade;
  std::function<void(const std::string&)> runInProcess = [&](const std::string& mode) {
    module.run(mode, runsMade[mode]++, inProcess[mode]);
  };
  TQBench* bench = nullptr;
  bench::addProbe<TQBench>(settings, bench, [&](bridge::CallbackDelivery&) {
    return std::make_unique<TQBench>(runs, runInProcess);
  });

  std::map<std::string, Times> page;
  {
    app::ShellApplication shell(std::move(settings));
    if (!bench::launchWithProbe(shell)) return 1;
    std::thread wait([&] {
      bench->waitUntilFinished();
      shell.mainThread().quit();
    });
    shell.mainThread().run();
    wait.join();
    if (!bench->error.empty()) return std::fprintf(stderr, "the page failed: %s\n", bench->error.c_str()), 1;
    page = bench->results;
    shell.terminate();
  }

  std::filesystem::remove_all(home);

  std::printf("Web SQL from a page: %d runs of each kind, medians (ms)\n", runs);
  std::printf("%-10s %-28s %10s %12s %7s\n", "database", "work", "page", "in-process", "ratio");
  for (const char* mode : {"plain", "encrypted"}) {
    double pageInsert = median(page[mode].insertMs), baseInsert = median(inProcess[mode].insertMs);
    double pageRead = median(page[mode].readMs), baseRead = median(inProcess[mode].readMs);
    std::printf("%-10s %-28s %10.1f %12.1f %6.1fx\n", mode, "2,000 INSERTs, 1 transaction", pageInsert, baseInsert,
                pageInsert / baseInsert);
    std::printf("%-10s %-28s %10.1f %12.1f %6.1fx\n", mode, "2,000 rows read back", pageRead, baseRead,
                pageRead / baseRead);
  }
  for (const char* mode : {"plain", "encrypted"})
    std::printf("%-10s longest gap of a 10 ms page timer during the inserts: median %.1f ms, worst %.1f ms\n", mode,
                median(page[mode].timerGapMs),
                *std::max_element(page[mode].timerGapMs.begin(), page[mode].timerGapMs.end()));
  std::printf("encrypted / plain from the page: inserts %.2fx, reads %.2fx\n",
              median(page["encrypted"].insertMs) / median(page["plain"].insertMs),
              median(page["encrypted"].readMs) / median(page["plain"].readMs));
  for (const char* mode : {"plain", "encrypted"}) {
    std::string name = std::string("websql_") + mode;
    bench::printBenchLine((name + "_insert_2000").c_str(), median(page[mode].insertMs), "ms", "in_process",
                          median(inProcess[mode].insertMs));
    bench::printBenchLine((name + "_read_2000").c_str(), median(page[mode].readMs), "ms", "in_process",
                          median(inProcess[mode].readMs));
  }
  return 0;
}
