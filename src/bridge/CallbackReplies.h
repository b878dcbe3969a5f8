// Callback ids whose answer goes back in the reply to the message that made
// the call, instead of as a callback script evaluated in the page. A page
// names them ("answers" of a call on the page channel) for calls that answer
// exactly once through one of them (a success or a failure callback); the
// first answer for any of a call's ids is taken and the others are
// forgotten. Ids nobody waits for here are answered by callback scripts as
// before.
//
// Ids are the page's: each document numbers its callbacks from a random
// point, so ids of two documents waiting at once do not meet; an id already
// waiting is refused (its call is answered by callback script).
//
// Thread rules: every function from any thread; an Answer runs on the thread
// that answered, never under this object's lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "json/JsonValue.h"

namespace tavero::bridge {

class CallbackReplies {
 public:
  // At most this many ids wait at once; a call beyond it is answered by
  // callback script. Bounds what a page can make the shell hold.
  static constexpr size_t kMaxWaiting = 8192;
  // At most this many ids per call (a success and a failure callback).
  static constexpr size_t kMaxIdsPerCall = 2;

  // Receives the JSON text {"callback": "<id>", "value": <value>} (a missing
  // value is the empty string, as in a callback script).
  using Answer = std::function<void(std::string answer)>;

  // Registers `ids` as the ids of one call; false (nothing registered) when
  // there are too many, one is not a page callback id (not positive) or
  // already waits, or the table is full.
  bool expect(const std::vector<int>& ids, Answer answer);
  // Forgets `ids` (their call was refused before it ran).
  void forget(const std::vector<int>& ids);
  // Hands the answer to the call waiting for `callbackId`, if any; true
  // when taken (no callback script is then due).
  bool take(int callbackId, const std::optional<json::Value>& value);

  size_t waiting() const;

  // The answer's JSON text.
  static std::string answerText(int callbackId, const std::optional<json::Value>& value);

 private:
  struct Waiter {
    std::vector<int> ids;
    Answer answer;
  };
  void eraseLocked(const std::vector<int>& ids);

  mutable std::mutex mutex_;  // guards waiters_
  std::unordered_map<int, std::shared_ptr<Waiter>> waiters_;
};

}  // namespace tavero::bridge
