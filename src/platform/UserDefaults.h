// The app's user defaults: a small store of named values that lasts from
// one run to the next. Every change is on the disk before the call returns,
// and a crash at any moment leaves either the old or the new values whole.
//
// Thread rules: any thread; each call is atomic with respect to the others.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonValue.h"

namespace tavero::platform {

class UserDefaults {
 public:
  // Computes a key's new value from its current one (null when the key is
  // unset); nullopt leaves the value as it is.
  using Change = std::function<std::optional<json::Value>(const json::Value* current)>;

  virtual ~UserDefaults() = default;

  virtual std::optional<json::Value> value(std::string_view key) const = 0;

  // Sets `key` and writes the defaults out. On failure nothing changes, in
  // memory or on the disk, and the message says why.
  virtual std::optional<std::string> setValue(const std::string& key, json::Value value) = 0;

  // Reads, changes and writes `key` as one step, so that two changes made at
  // the same time both count. Failure as for setValue.
  virtual std::optional<std::string> update(const std::string& key, const Change& change) = 0;
};

}  // namespace tavero::platform
