// What the call round-trip benchmarks share: a shell running one of bench/'s
// bundles whose page times runs of calls on each road and reports them, as
// lists of milliseconds per call, to a probe module ("TQBench": "ping"
// answers nothing, "echo" answers through the success callback, "results"
// takes the report).
#pragma once

#include <map>
#include <optional>
#include <string>

#include "json/JsonValue.h"

namespace tavero::bench {

// Runs bench/<bundle> in a fresh home under the temporary folder and gives
// the page's report, or nothing after saying why on stderr. REQUIRES:
// prepareDisplay (PageBench.h) has given the process a display.
std::optional<json::Object> pageCallTimings(const std::string& bundle);

// The median of each list in `report`, by name; `skip` names one entry that
// is no list of times.
std::map<std::string, double> mediansOf(const json::Object& report, const std::string& skip = "");

}  // namespace tavero::bench
