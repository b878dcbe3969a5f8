#include "platform/linux/FileUserDefaults.h"

#include <chrono>

#include "base/AtomicFile.h"
#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "log/Log.h"

namespace tavero::platform {

FileUserDefaults::FileUserDefaults(std::filesystem::path file) : file_(std::move(file)) {
  auto content = base::readWholeFile(file_);
  if (content.error) {
    log::error("defaults: " + *content.error + "; starting without stored values");
    return;
  }
  if (!content.text) return;
  if (auto values = json::JsonCodec::dictionaryWithJSONString(*content.text)) {
    values_ = std::move(*values);
    return;
  }
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::system_clock::now().time_since_epoch()).count();
  std::filesystem::path aside = file_;
  aside += ".unreadable-" + std::to_string(seconds);
  std::error_code ec;
  std::filesystem::rename(file_, aside, ec);
  log::error("defaults: " + file_.string() + " is not a JSON object; kept as " + aside.string() +
             (ec ? " (could not move it: " + ec.message() + ")" : std::string()) + "; starting without stored values");
}

std::optional<json::Value> FileUserDefaults::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const json::Value* found = values_.find(key);
  if (!found) return std::nullopt;
  return *found;
}

std::optional<std::string> FileUserDefaults::setValue(const std::string& key, json::Value value) {
  return update(key, [&value](const json::Value*) { return std::optional<json::Value>(std::move(value)); });
}

std::optional<std::string> FileUserDefaults::update(const std::string& key, const Change& change) {
  std::lock_guard lock(mutex_);
  auto changed = change(values_.find(key));
  if (!changed) return std::nullopt;
  json::Object next = values_;
  next.set(key, std::move(*changed));
  if (auto error = writeLocked(next)) {
    log::error("defaults: " + *error);
    return error;
  }
  values_ = std::move(next);
  return std::nullopt;
}

std::optional<std::string> FileUserDefaults::writeLocked(const json::Object& values) {
  return base::writeFileAtomically(file_, json::JsonCodec::jsonStringValueWithIndentLevel(values, 0) + "\n");
}

}  // namespace tavero::platform
