// The line every benchmark prints for each figure it measures, which
// scripts/bench collects into its summary table (bench/README.md):
//
//   BENCH <name> <median> <unit> <baseline-name> <baseline-median> <ratio>
//
// The ratio is median / baseline median; lower is better for every figure.
// A figure without a baseline prints "-" for the last three fields; one whose
// baseline is zero prints "-" for the ratio.
#pragma once

#include <cstdio>

namespace tavero::bench {

inline void printBenchLine(const char* name, double median, const char* unit, const char* baselineName,
                           double baselineMedian) {
  if (baselineMedian > 0)
    std::printf("BENCH %s %.4g %s %s %.4g %.3f\n", name, median, unit, baselineName, baselineMedian,
                median / baselineMedian);
  else  // a baseline of zero (an idle process's CPU) gives no ratio
    std::printf("BENCH %s %.4g %s %s %.4g -\n", name, median, unit, baselineName, baselineMedian);
  std::fflush(stdout);
}

inline void printBenchLine(const char* name, double median, const char* unit) {
  std::printf("BENCH %s %.4g %s - - -\n", name, median, unit);
  std::fflush(stdout);
}

}  // namespace tavero::bench
