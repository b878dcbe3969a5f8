// Callback delivery that forms the callback script and hands it, with the
// page's name, to a script target: a web view, or (for `tavero serve`) a
// line on standard output.
#pragma once

#include <functional>
#include <string>

#include "bridge/CallbackDelivery.h"

namespace tavero::host {

class ScriptCallbackDelivery : public bridge::CallbackDelivery {
 public:
  // Called from whichever thread delivers; must be thread-safe.
  using ScriptTarget = std::function<void(const std::string& page, const std::string& script)>;

  explicit ScriptCallbackDelivery(ScriptTarget target) : target_(std::move(target)) {}

  void invokeCallback(int callbackId, const std::optional<json::Value>& value,
                      std::string_view page = {}) override;

 private:
  ScriptTarget target_;
};

}  // namespace tavero::host
