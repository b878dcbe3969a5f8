#include "bridge/CallbackReplies.h"

#include <algorithm>

#include "json/JsonCodec.h"

namespace tavero::bridge {

bool CallbackReplies::expect(const std::vector<int>& ids, Answer answer) {
  if (ids.empty() || ids.size() > kMaxIdsPerCall) return false;
  if (std::any_of(ids.begin(), ids.end(), [](int id) { return id <= 0; })) return false;
  auto waiter = std::make_shared<Waiter>(Waiter{ids, std::move(answer)});
  std::lock_guard lock(mutex_);
  if (waiters_.size() + ids.size() > kMaxWaiting) return false;
  for (size_t i = 0; i < ids.size(); ++i)
    if (waiters_.count(ids[i]) || std::find(ids.begin(), ids.begin() + i, ids[i]) != ids.begin() + i) return false;
  for (int id : ids) waiters_.emplace(id, waiter);
  return true;
}

void CallbackReplies::forget(const std::vector<int>& ids) {
  std::lock_guard lock(mutex_);
  eraseLocked(ids);
}

void CallbackReplies::eraseLocked(const std::vector<int>& ids) {
  for (int id : ids) waiters_.erase(id);
}

bool CallbackReplies::take(int callbackId, const std::optional<json::Value>& value) {
  std::shared_ptr<Waiter> waiter;
  {
    std::lock_guard lock(mutex_);
    auto found = waiters_.find(callbackId);
    if (found == waiters_.end()) return false;
    waiter = found->second;
    eraseLocked(waiter->ids);
  }
  waiter->answer(answerText(callbackId, value));
  return true;
}

size_t CallbackReplies::waiting() const {
  std::lock_guard lock(mutex_);
  return waiters_.size();
}

std::string CallbackReplies::answerText(int callbackId, const std::optional<json::Value>& value) {
  std::string text = "{\"callback\" : \"" + std::to_string(callbackId) + "\", \"value\" : ";
  json::JsonCodec::appendJsonStringForValue(text, value ? *value : json::Value(""), json::JsonCodec::jsonDoNotIndent);
  return text + "}";
}

}  // namespace tavero::bridge
