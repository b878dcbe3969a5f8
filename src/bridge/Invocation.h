// One call of a module operation: the arguments of the request that started
// it, and the answer it gives at once. Each call has its own invocation, so a
// queued operation keeps to its own request's arguments whatever arrives
// for the same module meanwhile.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonValue.h"

namespace tavero::bridge {

using Arguments = std::shared_ptr<const json::Object>;
// The page's own texts of arguments that were read as JSON arrays or
// objects, by key (see BridgeQuery).
using ArgumentTexts = std::map<std::string, std::string, std::less<>>;

class Invocation {
 public:
  // `texts` holds the page's text of every argument that `arguments` holds
  // as an array or object (none: such arguments have no text).
  explicit Invocation(Arguments arguments, std::shared_ptr<const ArgumentTexts> texts = nullptr);

  // Every key of the query, "command" and "sync" included; values that read
  // as JSON arrays or objects are held as such. Modules read the arguments
  // they take as JSON values ("arguments", "verdict"...) from here.
  const json::Object& arguments() const { return *arguments_; }
  const Arguments& sharedArguments() const { return arguments_; }

  // The text the page sent under `key`, whatever it begins with ("[1,2]"
  // too); empty when absent.
  std::string_view text(std::string_view key) const;
  // `key` read by the flag rule, the integer rule or its 64-bit form (false
  // or 0 when absent).
  bool flag(std::string_view key) const;
  int32_t integer(std::string_view key) const;
  int64_t longLong(std::string_view key) const;
  // The calling page's name: the last path component of "__source" (empty
  // when the page sent none).
  std::string pageName() const;
  // The page name of a page's location: its last path component, without
  // query or fragment ("index.html" for "file:///app/index.html?x#y").
  static std::string pageNameOf(std::string_view location);

  // The answer at once; sent to the page when it called with "sync".
  void setResult(json::Value value) { result_ = std::move(value); }
  const std::optional<json::Value>& result() const { return result_; }

 private:
  Arguments arguments_;
  std::shared_ptr<const ArgumentTexts> texts_;
  std::optional<json::Value> result_;
};

}  // namespace tavero::bridge
