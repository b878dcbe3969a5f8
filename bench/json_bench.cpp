// Writer and reader throughput against nlohmann::json on the same data: a
// statement result of 10,000 rows (about 1.5 MB as we write it).
//
//   json_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

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
    nlohmann::json parsed = nlohmann::json::parse(f.theirText);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.theirText.size()));
}
BENCHMARK(BM_Read_Nlohmann)->Unit(benchmark::kMillisecond);

}  // namespace
