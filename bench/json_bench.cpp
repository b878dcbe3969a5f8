// Writer and reader throughput against nlohmann::json and RapidJSON on the
// same data: a statement result of 10,000 rows (about 1.5 MB as we write it),
// and reading one small call message against RapidJSON.
// The readers all read the text our writer writes. Ends with a BENCH line
// (BenchLine.h) for each figure: the median CPU time of the repetitions (5
// unless --benchmark_repetitions says otherwise).
//
//   json_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>

#include <rapidjson/document.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "BenchLine.h"

#include "json/JsonCodec.h"

namespace {

using tavero::json::Array;
using tavero::json::JsonCodec;
using tavero::json::Object;
using tavero::json::Value;

constexpr int kRows = 10'000;
const char* const kNames[] = {"id", "price", "name", "note", "deleted"};

struct Fixture {
  Value ours;
  nlohmann::json theirs;
  std::string ourText;    // written by JsonCodec
  std::string theirText;  // written by nlohmann::json::dump

  Fixture() {
    Array names;
    nlohmann::json theirNames = nlohmann::json::array();
    for (const char* n : kNames) {
      names.emplace_back(n);
      theirNames.push_back(n);
    }
    Array rows;
    rows.reserve(kRows);
    nlohmann::json theirRows = nlohmann::json::array();
    for (int i = 0; i < kRows; ++i) {
      int id = 1000 + i * 7;
      double price = (i % 997) + (i % 100) / 100.0;
      std::string name = "item-" + std::to_string(i);
      std::string note = "Row " + std::to_string(i) +
                         " said \"hi\"\n\tpath a/b \u2014 caf\u00e9 na\u00efve \u00fcber";
      Object row;
      row.append(kNames[0], id);
      row.append(kNames[1], price);
      row.append(kNames[2], name);
      row.append(kNames[3], note);
      row.append(kNames[4], nullptr);
      rows.emplace_back(std::move(row));
      theirRows.push_back({{kNames[0], id},
                           {kNames[1], price},
                           {kNames[2], name},
                           {kNames[3], note},
                           {kNames[4], nullptr}});
    }
    Object result;
    result.append("insertId", 10'007);
    result.append("rowsAffected", 0);
    result.append("names", std::move(names));
    result.append("rows", std::move(rows));
    ours = Value(std::move(result));
    theirs = {{"insertId", 10'007}, {"rowsAffected", 0}, {"names", theirNames}, {"rows", theirRows}};
    ourText = JsonCodec::jsonStringForValue(ours);
    theirText = theirs.dump();
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

void BM_Write_Tavero(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    std::string text = JsonCodec::jsonStringForValue(f.ours);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.ourText.size()));
  state.counters["text_bytes"] = static_cast<double>(f.ourText.size());
}
BENCHMARK(BM_Write_Tavero)->Unit(benchmark::kMillisecond);

void BM_Write_Nlohmann(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    std::string text = f.theirs.dump();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.theirText.size()));
  state.counters["text_bytes"] = static_cast<double>(f.theirText.size());
}
BENCHMARK(BM_Write_Nlohmann)->Unit(benchmark::kMillisecond);

void BM_Read_Tavero(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    auto object = JsonCodec::dictionaryWithJSONString(f.ourText);
    if (!object) state.SkipWithError("our text did not read back");
    benchmark::DoNotOptimize(object);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.ourText.size()));
}
BENCHMARK(BM_Read_Tavero)->Unit(benchmark::kMillisecond);

void BM_Read_Nlohmann(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    nlohmann::json parsed = nlohmann::json::parse(f.ourText);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.ourText.size()));
}
BENCHMARK(BM_Read_Nlohmann)->Unit(benchmark::kMillisecond);

// RapidJSON's DOM with its default flags: a document of its own each time,
// as a reader of one message would make.
void BM_Read_RapidJSON(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    rapidjson::Document parsed;
    parsed.Parse(f.ourText.data(), f.ourText.size());
    if (parsed.HasParseError()) state.SkipWithError("RapidJSON did not read our text");
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.ourText.size()));
}
BENCHMARK(BM_Read_RapidJSON)->Unit(benchmark::kMillisecond);

// One call message of the size the bridge reads most: a few small objects.
// A per-read cost (setting up the reader, the document's memory) shows here
// and not in the large document above.
const char* const kSmallMessage =
    R"({"calls": [{"command": "FileSystem#read", "answers": ["12", "13"], "args": {"success": "12", )"
    R"("failure": "13", "path": "notes/today.txt", "offset": 0, "length": 4096}}], "batch": 7})";

void BM_ReadSmall_Tavero(benchmark::State& state) {
  const std::string_view text = kSmallMessage;
  for (auto _ : state) {
    auto object = JsonCodec::dictionaryWithJSONString(text);
    if (!object) state.SkipWithError("the message did not read");
    benchmark::DoNotOptimize(object);
  }
}
BENCHMARK(BM_ReadSmall_Tavero)->Unit(benchmark::kMicrosecond);

void BM_ReadSmall_RapidJSON(benchmark::State& state) {
  const std::string_view text = kSmallMessage;
  for (auto _ : state) {
    rapidjson::Document parsed;
    parsed.Parse(text.data(), text.size());
    if (parsed.HasParseError()) state.SkipWithError("RapidJSON did not read the message");
    benchmark::DoNotOptimize(parsed);
  }
}
BENCHMARK(BM_ReadSmall_RapidJSON)->Unit(benchmark::kMicrosecond);

// Keeps the median of each benchmark's repetitions beside the usual output.
// CPU time, not wall time: the readers are single-threaded, and on a shared
// machine wall time also counts the time other processes had the core.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medianMs;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medianMs[run.run_name.function_name] = run.GetAdjustedCPUTime();  // in the unit set
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  std::string aggregatesOnly = "--benchmark_report_aggregates_only=true";
  args.insert(args.begin() + 1, {repetitions.data(), aggregatesOnly.data()});  // later arguments win
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  auto& ms = reporter.medianMs;
  if (ms.size() != 7) return std::fprintf(stderr, "json_bench: a benchmark did not run\n"), 1;
  std::printf("\n");
  tavero::bench::printBenchLine("json_write", ms["BM_Write_Tavero"], "ms", "nlohmann_write", ms["BM_Write_Nlohmann"]);
  tavero::bench::printBenchLine("json_read", ms["BM_Read_Tavero"], "ms", "rapidjson_read", ms["BM_Read_RapidJSON"]);
  tavero::bench::printBenchLine("json_read_vs_nlohmann", ms["BM_Read_Tavero"], "ms", "nlohmann_read",
                                ms["BM_Read_Nlohmann"]);
  tavero::bench::printBenchLine("json_read_small", ms["BM_ReadSmall_Tavero"], "us", "rapidjson_read_small",
                                ms["BM_ReadSmall_RapidJSON"]);
  return 0;
}
