#include "bridge/PageMessageChannel.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "bridge/BridgeQuery.h"
#include "bridge/PageToken.h"
#include "json/JsonCodec.h"
#include "log/Log.h"
#include "log/RefusalLog.h"

namespace tavero::bridge {

// One message, read: its calls, or the reason one of them cannot be read.
struct PageMessageChannel::Message {
  std::vector<std::optional<BridgeCall>> calls;  // empty: the call was malformed (400)
  std::vector<std::vector<int>> answers;          // per call: the ids it answers through the reply
};

// The answer entries of one message, sent as its reply once every entry is
// there: the entries of plain calls as they run, those of calls answered
// through the reply when their answer comes (on whichever thread), and one
// more count for the run itself.
class PageMessageChannel::PendingAnswer {
 public:
  PendingAnswer(size_t entries, Reply reply) : entries_(entries), reply_(std::move(reply)) {}

  // One more entry to wait for before the reply goes.
  void awaitOne() {
    std::lock_guard lock(mutex_);
    ++waiting_;
  }
  // Fills entry `index` unless it is filled already.
  void fill(size_t index, std::string entry) {
    std::unique_lock lock(mutex_);
    if (entries_[index]) return;
    entries_[index] = std::move(entry);
    if (--waiting_ == 0) sendLocked(lock);
  }
  // One wait less: the run has made every entry it makes itself, or an
  // entry awaited will be made by the run after all.
  void release() {
    std::unique_lock lock(mutex_);
    if (--waiting_ == 0) sendLocked(lock);
  }
  void put(size_t index, std::string entry) {
    std::lock_guard lock(mutex_);
    entries_[index] = std::move(entry);
  }

 private:
  void sendLocked(std::unique_lock<std::mutex>& lock) {
    // Made in one allocation: an entry may hold rows of a database.
    size_t size = 2;
    for (auto& entry : entries_) size += entry->size() + 2;
    std::string answer;
    answer.reserve(size);
    answer += "[";
    for (auto& entry : entries_) {
      if (answer.size() > 1) answer += ", ";
      answer += *entry;
    }
    answer += "]";
    Reply reply = std::move(reply_);
    lock.unlock();
    reply(std::move(answer), {});
  }

  std::mutex mutex_;  // guards everything below
  std::vector<std::optional<std::string>> entries_;
  size_t waiting_ = 1;  // the run itself
  Reply reply_;
};

namespace {

// The callback ids a call answers once through the reply: "answers", a list
// of at most CallbackReplies::kMaxIdsPerCall ids in decimal text. Nullopt
// when the list is malformed.
std::optional<std::vector<int>> readAnswerIds(const json::Object& call) {
  std::vector<int> ids;
  const json::Value* answers = call.find("answers");
  if (!answers) return ids;
  if (!answers->isArray() || answers->asArray().size() > CallbackReplies::kMaxIdsPerCall) return std::nullopt;
  for (const auto& entry : answers->asArray()) {
    if (!entry.isString()) return std::nullopt;
    const std::string& text = entry.asString();
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    long long id = std::stoll(text);
    if (id > std::numeric_limits<int>::max()) return std::nullopt;  // callback ids are ints
    ids.push_back(static_cast<int>(id));
  }
  return ids;
}

// A call's arguments from its "args" texts, with "command" and "sync" among
// them as an HTTP query would have them.
std::optional<BridgeCall> readCall(const json::Value& entry) {
  const json::Object* call = entry.isObject() ? &entry.asObject() : nullptr;
  const json::Value* command = call ? call->find("command") : nullptr;
  if (!command || !command->isString()) return std::nullopt;
  BridgeQuery query;
  const json::Value* args = call->find("args");
  if (args && args->isObject()) {
    for (const auto& [key, value] : args->asObject()) {
      if (!value.isString()) return std::nullopt;
      addBridgeArgument(query, key, value.asString());
    }
  } else if (args) {
    return std::nullopt;
  }
  addBridgeArgument(query, "command", command->asString());
  const json::Value* sync = call->find("sync");
  if (sync && *sync == json::Value(true)) addBridgeArgument(query, "sync", "true");
  return BridgeCall{std::make_shared<const json::Object>(std::move(query.values)),
                    std::make_shared<const ArgumentTexts>(std::move(query.texts))};
}

}  // namespace

PageMessageChannel::PageMessageChannel(CommandDispatcher& dispatcher, CommandDispatchQueue& queue,
                                       std::string pageToken, std::function<bool()> isServing, CallsInFlight* calls,
                                       CallbackReplies* replies)
    : dispatcher_(dispatcher),
      queue_(queue),
      pageToken_(std::move(pageToken)),
      isServing_(std::move(isServing)),
      calls_(calls),
      replies_(replies) {}

std::string PageMessageChannel::refusalAnswer(unsigned status, const std::string& reason) {
  json::Object refusal;
  refusal.set("status", json::Value(static_cast<int>(status)));
  refusal.set("refusal", json::Value(reason));
  return json::JsonCodec::jsonStringValueWithIndentLevel(refusal, json::JsonCodec::jsonDoNotIndent);
}

std::shared_ptr<SerialExecutor> PageMessageChannel::executorFor(const std::string& viewLabel) {
  std::lock_guard lock(executorsMutex_);
  auto& executor = executors_[viewLabel];
  if (!executor) executor = std::make_shared<SerialExecutor>(queue_);
  return executor;
}

bool PageMessageChannel::admits(const std::string& viewLabel, std::string_view text,
                                const std::function<void(std::optional<std::string>, std::string)>& refuse) {
  // The token first, on the raw text: a message without it is not read.
  auto token = leadingMessageToken(text);
  if (!token || !pageTokensMatch(pageToken_, *token)) {
    log::refusal("bridge: refused a message in page " + viewLabel +
                 " without the page token (from web content shown in the page?)");
    refuse(std::nullopt, "refused: only the application's own documents may call the shell");
    return false;
  }
  if (isServing_ && !isServing_()) {
    refuse(refusalAnswer(503, "the shell is not serving (the application is in the background)"), {});
    return false;
  }
  return true;
}

void PageMessageChannel::receive(const std::string& viewLabel, const std::string& text, Reply reply) {
  if (!admits(viewLabel, text, reply)) return;
  // Counted from here until answered, waiting behind the view's earlier
  // messages included.
  CallsInFlight::Hold hold = calls_ ? calls_->begin() : nullptr;
  auto object = json::JsonCodec::dictionaryWithJSONString(text);
  const json::Value* calls = object ? object->find("calls") : nullptr;
  if (!calls || !calls->isArray() || calls->asArray().size() > kMaxCallsPerMessage) {
    reply(refusalAnswer(400, "a message holds a list of at most " + std::to_string(kMaxCallsPerMessage) + " calls"),
          {});
    return;
  }
  auto message = std::make_shared<Message>();
  bool queuedOnly = true;
  for (const auto& entry : calls->asArray()) {
    auto ids = entry.isObject() ? readAnswerIds(entry.asObject()) : std::vector<int>();
    message->calls.push_back(ids ? readCall(entry) : std::nullopt);
    message->answers.push_back(ids ? std::move(*ids) : std::vector<int>());
    if (message->calls.back() && CommandDispatcher::isSynchronous(*message->calls.back())) queuedOnly = false;
  }
  auto executor = executorFor(viewLabel);
  // Calls that are only queued never wait: when nothing of this view is
  // under way, they are handed to the queue here and answered at once.
  if (queuedOnly && executor->runNowIfIdle([&] { run(*message, reply); })) return;
  executor->post([this, message, reply = std::move(reply), hold = std::move(hold)] { run(*message, reply); });
}

void PageMessageChannel::receiveBytes(const std::string& viewLabel, std::string_view header, std::string bytes,
                                      BytesReply reply) {
  auto refuse = [&reply](std::optional<std::string> answer, std::string rejection) {
    reply(std::move(answer), {}, std::move(rejection));
  };
  if (!admits(viewLabel, header, refuse)) return;
  CallsInFlight::Hold hold = calls_ ? calls_->begin() : nullptr;
  auto object = json::JsonCodec::dictionaryWithJSONString(header);
  const json::Value* calls = object ? object->find("calls") : nullptr;
  std::optional<BridgeCall> call;
  if (calls && calls->isArray() && calls->asArray().size() == 1) call = readCall(calls->asArray().front());
  if (!call) {
    log::refusal("bridge: a bytes call on the page channel that is not one call with a command and texts");
    reply(refusalAnswer(400, "a bytes call holds exactly one call"), {}, {});
    return;
  }
  // A read asks for its length in bytes; a write brings its bytes.
  const size_t piece = std::max<size_t>(bytes.size(), static_cast<size_t>(
                                                          std::max<int64_t>(call->invocation().longLong("length"), 0)));
  auto executor = executorFor(viewLabel);
  if (piece <= kMaxInlineBytes && executor->runNowIfIdle([&] { runBytes(*call, bytes, reply); })) return;
  executor->post([this, call = std::move(*call), bytes = std::move(bytes), reply = std::move(reply),
                  hold = std::move(hold)] { runBytes(call, bytes, reply); });
}

void PageMessageChannel::runBytes(const BridgeCall& call, std::string_view bytes, const BytesReply& reply) {
  BytesOutcome outcome = dispatcher_.dispatchBytes(call, bytes);
  std::string header = "{\"status\" : " + std::to_string(static_cast<unsigned>(outcome.status));
  if (outcome.value) {
    header += ", \"answer\" : ";
    header += outcome.value->isObject() ? json::JsonCodec::jsonStringValueWithIndentLevel(
                                              outcome.value->asObject(), json::JsonCodec::jsonDoNotIndent)
                                        : json::JsonCodec::jsonStringForValue(*outcome.value);
  }
  header += "}";
  reply(std::move(header), std::move(outcome.bytes), {});
}

void PageMessageChannel::run(const Message& message, Reply reply) {
  auto pending = std::make_shared<PendingAnswer>(message.calls.size(), std::move(reply));
  for (size_t i = 0; i < message.calls.size(); ++i) {
    std::string entry = dispatchEntry(message, i, pending);
    if (!entry.empty()) pending->put(i, std::move(entry));
  }
  pending->release();
}

// Runs call `index`; its entry, or "" when the entry comes with the call's
// answer (filled into `pending` then).
std::string PageMessageChannel::dispatchEntry(const Message& message, size_t index,
                                              const std::shared_ptr<PendingAnswer>& pending) {
  const auto& call = message.calls[index];
  if (!call) {
    log::refusal("bridge: a call on the page channel without a command, with arguments that are not texts or "
                 "with a malformed list of answer ids");
    return "{\"status\" : 400}";
  }
  const std::vector<int>& ids = message.answers[index];
  bool viaReply = false;
  if (replies_ && !ids.empty() && !CommandDispatcher::isSynchronous(*call)) {
    pending->awaitOne();
    viaReply = replies_->expect(ids, [pending, index](std::string answer) {
      pending->fill(index, "{\"status\" : 200, \"answer\" : " + answer + "}");
    });
    if (!viaReply) pending->release();  // answered by callback script
  }
  CallOutcome outcome = dispatcher_.dispatch(*call);
  std::string entry;
  entry.reserve(32 + (outcome.body ? outcome.body->size() : 0));  // one copy of a large result, not several
  entry += "{\"status\" : ";
  entry += std::to_string(static_cast<unsigned>(outcome.status));
  if (outcome.body) {
    entry += ", \"result\" : ";
    entry += *outcome.body;
  }
  entry += "}";
  if (!viaReply) return entry;
  if (outcome.status != net::HTTPStatus::ok) {
    // The operation did not run: nobody will answer its ids.
    replies_->forget(ids);
    pending->fill(index, std::move(entry));
  }
  return {};
}

}  // namespace tavero::bridge
