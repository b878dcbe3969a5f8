// One call of a module operation: the arguments of the request that started
// it, and the answer it gives at once. Each call has its own invocation, so a
// queued operation keeps to its own request's arguments whatever arrives
// for the same module meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonValue.h"

namespace tavero::bridge {

using Arguments = std::shared_ptr<const json::Object>;

class TQInvocation {
 public:
  explicit TQInvocation(Arguments arguments);

  // Every key of the query, "command" and "sync" included.
  const json::Object& arguments() const { return *arguments_; }
  const Arguments& sharedArguments() const { return arguments_; }

  // The argument under `key` if it is text; empty otherwise.
  std::string_view text(std::string_view key) const;
  // `key` read by the flag rule, the integer rule or its 64-bit form (false
  // or 0 when absent or not text).
  bool flag(std::string_view key) const;
  int32_t integer(std::string_view key) const;
  int64_t longLong(std::string_view key) const;
  // The calling page's name: the last path component of "__source" (empty
  // when the page sent none).
  std::string pageName() const;

  // The answer at once; sent to the page when it called with "sync".
  void setResult(json::Value value) { result_ = std::move(value); }
  const std::optional<json::Value>& result() const { return result_; }

 private:
  Arguments arguments_;
  std::optional<json::Value> result_;
};

}  // namespace tavero::bridge
