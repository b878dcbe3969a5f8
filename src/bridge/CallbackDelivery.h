// How modules answer later: a callback id that the page chose, a value, and
// the page to answer into. The engine implements this.
#pragma once

#include <optional>
#include <string_view>

#include "json/JsonValue.h"

namespace tavero::bridge {

class CallbackDelivery {
 public:
  virtual ~CallbackDelivery() = default;
  // Delivers `value` (nullopt: the page receives the empty string) to the
  // page's callback `callbackId`, in the page named `page` (empty: the start
  // page). Safe from any thread; does not wait for the page.
  virtual void invokeCallback(int callbackId, const std::optional<json::Value>& value,
                              std::string_view page = {}) = 0;
};

}  // namespace tavero::bridge
