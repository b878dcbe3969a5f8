// Callback deliveries recorded for module tests, and a way to call an
// operation as the bridge would.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "json/JsonCodec.h"

namespace tavero::modules::test {

class RecordingCallbacks : public bridge::CallbackDelivery {
 public:
  struct Delivery {
    int id;
    std::optional<json::Value> value;
    std::string page;  // empty: the start page
    friend bool operator==(const Delivery&, const Delivery&) = default;
  };
  void invokeCallback(int id, const std::optional<json::Value>& value, std::string_view page) override {
    std::lock_guard lock(mutex_);
    delivered_.push_back({id, value, std::string(page)});
  }
  std::vector<Delivery> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(delivered_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Delivery> delivered_;
};

using Arguments = std::vector<std::pair<std::string, json::Value>>;

// Runs `operation` of `module` with `arguments`, as the bridge would.
inline void call(bridge::TQW3CAction& module, const std::string& operation, const Arguments& arguments = {}) {
  auto object = std::make_shared<json::Object>();
  for (const auto& [key, value] : arguments) object->set(key, value);
  bridge::Invocation invocation(object);
  (*module.operation(operation))(invocation);
}

// One-line JSON text of a delivered value ("<none>" for no value).
inline std::string text(const std::optional<json::Value>& value) {
  if (!value) return "<none>";
  if (const json::Object* object = value->ifObject())
    return json::JsonCodec::jsonStringValueWithIndentLevel(*object, json::JsonCodec::jsonDoNotIndent);
  if (const json::Array* array = value->ifArray()) {
    std::string out = "[";
    for (size_t i = 0; i < array->size(); ++i) out += (i ? ", " : "") + text((*array)[i]);
    return out + "]";
  }
  return json::JsonCodec::jsonStringForValue(*value);
}

}  // namespace tavero::modules::test
