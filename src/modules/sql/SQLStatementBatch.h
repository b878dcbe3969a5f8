// The statements of one executeBatch call, read from the page's JSON list
//   [[sql, arguments, quiet], ...]
// where `arguments` (optional, null for none) is the list of values bound to
// the statement's parameters and `quiet` (optional) asks for no answer on
// success: the page has no callback for it, so only a failure matters, and
// the answer's entry is null instead of the rows and counts.
//
// Malformed lists are refused as a whole before anything runs: a page must
// not have half of a batch run because its tail was not understood.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/JsonValue.h"

namespace tavero::modules::sql {

struct BatchStatement {
  std::string_view sql;              // into the call's arguments
  const json::Value* arguments;      // null for none; into the call's arguments
  bool quiet = false;
};

class SQLStatementBatch {
 public:
  // At most this many statements in one call; the page client sends more as
  // several calls.
  static constexpr size_t kMaxStatements = 5000;

  // The statements of `list` (the call's "statements"), or why the list is
  // refused. The result points into `list`, which must outlive it.
  static std::variant<std::vector<BatchStatement>, std::string> read(const json::Value* list);
};

}  // namespace tavero::modules::sql
