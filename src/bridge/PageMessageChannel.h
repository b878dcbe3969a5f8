// The bridge's end of the page channel: the road by which the shell's own
// web views reach the modules without the network. A message is the JSON
// text
//   {"token": "<page token>",
//    "calls": [{"command": "SQLite#executeStatement", "sync": true, "args": {"key": "text", ...}}, ...]}
// and its answer the JSON text of an array with one entry per call, in
// order:
//   [{"status": 200, "result": <the synchronous answer, if any>}, {"status": 404}, ...]
// Argument texts are read exactly as the HTTP bridge reads its query
// values. The calls of a message run in order, and the messages of one view
// run in the order they arrived, on the command dispatch queue; queued
// operations go to the queue as they come.
//
// Thread rules: receive() from any thread; the reply may come on any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/CommandDispatcher.h"
#include "bridge/SerialExecutor.h"

namespace tavero::bridge {

class PageMessageChannel {
 public:
  static constexpr size_t kMaxCallsPerMessage = 1024;

  // Exactly one of the two: the answer's text, or why the message was refused.
  using Reply = std::function<void(std::optional<std::string> answer, std::string refusal)>;

  // `isServing` says whether the bridge serves now (not while the
  // application is in the background).
  PageMessageChannel(CommandDispatcher& dispatcher, CommandDispatchQueue& queue, std::string pageToken,
                     std::function<bool()> isServing);

  // `viewLabel` names the view the message came from.
  void receive(const std::string& viewLabel, const std::string& message, Reply reply);

 private:
  struct Message;
  std::shared_ptr<SerialExecutor> executorFor(const std::string& viewLabel);
  std::string run(const Message& message);

  CommandDispatcher& dispatcher_;
  CommandDispatchQueue& queue_;
  const std::string pageToken_;
  std::function<bool()> isServing_;

  std::mutex executorsMutex_;  // guards executors_
  std::map<std::string, std::shared_ptr<SerialExecutor>> executors_;
};

}  // namespace tavero::bridge
