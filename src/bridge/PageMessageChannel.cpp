#include "bridge/PageMessageChannel.h"

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
};

namespace {

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
                                       std::string pageToken, std::function<bool()> isServing, CallsInFlight* calls)
    : dispatcher_(dispatcher),
      queue_(queue),
      pageToken_(std::move(pageToken)),
      isServing_(std::move(isServing)),
      calls_(calls) {}

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

void PageMessageChannel::receive(const std::string& viewLabel, const std::string& text, Reply reply) {
  // The token first, on the raw text: a message without it is not read.
  auto token = leadingMessageToken(text);
  if (!token || !pageTokensMatch(pageToken_, *token)) {
    log::refusal("bridge: refused a message in page " + viewLabel +
                 " without the page token (from web content shown in the page?)");
    reply(std::nullopt, "refused: only the application's own documents may call the shell");
    return;
  }
  if (isServing_ && !isServing_()) {
    reply(refusalAnswer(503, "the shell is not serving (the application is in the background)"), {});
    return;
  }
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
    message->calls.push_back(readCall(entry));
    if (message->calls.back() && CommandDispatcher::isSynchronous(*message->calls.back())) queuedOnly = false;
  }
  auto executor = executorFor(viewLabel);
  // Calls that are only queued never wait: when nothing of this view is
  // under way, they are handed to the queue here and answered at once.
  if (queuedOnly && executor->runNowIfIdle([&] { reply(run(*message), {}); })) return;
  executor->post([this, message, reply = std::move(reply), hold = std::move(hold)] { reply(run(*message), {}); });
}

std::string PageMessageChannel::run(const Message& message) {
  std::string answer = "[";
  for (const auto& call : message.calls) {
    if (answer.size() > 1) answer += ", ";
    if (!call) {
      log::refusal("bridge: a call on the page channel without a command or with arguments that are not texts");
      answer += "{\"status\" : 400}";
      continue;
    }
    CallOutcome outcome = dispatcher_.dispatch(*call);
    answer += "{\"status\" : " + std::to_string(static_cast<unsigned>(outcome.status));
    if (outcome.body) answer += ", \"result\" : " + *outcome.body;
    answer += "}";
  }
  return answer + "]";
}

}  // namespace tavero::bridge
