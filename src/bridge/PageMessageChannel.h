// The bridge's end of the page channel: the road by which the shell's own
// web views reach the modules without the network. A message is the JSON
// text
//   {"token": "<page token>",
//    "calls": [{"command": "SQLite#executeStatement", "sync": true, "args": {"key": "text", ...}}, ...]}
// and its answer the JSON text of an array with one entry per call, in
// order:
//   [{"status": 200, "result": <the synchronous answer, if any>}, {"status": 404}, ...]
// A message without the page token is rejected (the page's promise fails):
// whatever sent it learns nothing more. A message of the application's own
// documents refused as a whole is answered with one object instead:
//   {"status": 503, "refusal": "the shell is not serving ..."}
// (400: not a list of calls; 503: the application is in the background),
// so the page client can tell every call why.
// A queued call may name callback ids it answers once through ("answers":
// ["12", "13"], its success and failure ids): its entry then waits for that
// answer, {"status": 200, "answer": {"callback": "12", "value": ...}}, and
// the message's reply goes when every such entry has its answer (see
// CallbackReplies). Without a table of replies, or when the table refuses
// the ids, the entry is answered at once and the answer comes as a callback
// script.
// A bytes call (receiveBytes) is one call with a piece of file content
// beside it: its header is such a message with exactly one call, and its
// answer the JSON text of that call's entry with the operation's value,
//   {"status": 200, "answer": <value>}
// (or the refusal object), with the answer's bytes beside it. It runs in
// order with the view's messages: at once on the calling thread when
// nothing of the view is under way and its piece is small
// (kMaxInlineBytes), else behind them on the command dispatch queue.
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
#include <string_view>

#include "bridge/CallbackReplies.h"
#include "bridge/CallsInFlight.h"
#include "bridge/CommandDispatcher.h"
#include "bridge/SerialExecutor.h"

namespace tavero::bridge {

class PageMessageChannel {
 public:
  static constexpr size_t kMaxCallsPerMessage = 1024;

  // Exactly one of the two: the answer's JSON text (the list of answers,
  // or the refusal object), or why the message was rejected.
  using Reply = std::function<void(std::optional<std::string> answer, std::string rejection)>;
  // A bytes call's answer: the header's JSON text and the bytes, or why
  // the call was rejected.
  using BytesReply = std::function<void(std::optional<std::string> header, std::string bytes, std::string rejection)>;
  // The largest piece a bytes call reads or writes on the calling thread
  // (the bridge's worker, which serves every page): larger ones go to the
  // queue, so that no page holds up the others for long.
  static constexpr size_t kMaxInlineBytes = 1024 * 1024;

  // `isServing` says whether the bridge serves now (not while the
  // application is in the background). `calls` (may be null) counts each
  // message from its arrival until its calls ran. `replies` (may be null)
  // holds the callback ids whose answers go in the reply.
  PageMessageChannel(CommandDispatcher& dispatcher, CommandDispatchQueue& queue, std::string pageToken,
                     std::function<bool()> isServing, CallsInFlight* calls = nullptr,
                     CallbackReplies* replies = nullptr);

  // The refusal object for a whole message (see above).
  static std::string refusalAnswer(unsigned status, const std::string& reason);

  // `viewLabel` names the view the message came from.
  void receive(const std::string& viewLabel, const std::string& message, Reply reply);
  // A bytes call of view `viewLabel`: `header` the message of its one call,
  // `bytes` the content it carries.
  void receiveBytes(const std::string& viewLabel, std::string_view header, std::string bytes, BytesReply reply);

 private:
  struct Message;
  class PendingAnswer;
  std::shared_ptr<SerialExecutor> executorFor(const std::string& viewLabel);
  void run(const Message& message, Reply reply);
  // The token and serving checks every message passes first; false when
  // `refuse` has been called with the rejection or the refusal object.
  bool admits(const std::string& viewLabel, std::string_view text,
              const std::function<void(std::optional<std::string> answer, std::string rejection)>& refuse);
  void runBytes(const BridgeCall& call, std::string_view bytes, const BytesReply& reply);
  std::string dispatchEntry(const Message& message, size_t index, const std::shared_ptr<PendingAnswer>& pending);

  CommandDispatcher& dispatcher_;
  CommandDispatchQueue& queue_;
  const std::string pageToken_;
  std::function<bool()> isServing_;
  CallsInFlight* calls_;
  CallbackReplies* replies_;

  std::mutex executorsMutex_;  // guards executors_
  std::map<std::string, std::shared_ptr<SerialExecutor>> executors_;
};

}  // namespace tavero::bridge
