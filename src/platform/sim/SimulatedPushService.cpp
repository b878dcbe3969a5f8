#include "platform/sim/SimulatedPushService.h"

#include <random>

#include "log/Log.h"
#include "platform/PushDelivery.h"

namespace tavero::platform {
namespace {

std::vector<uint8_t> randomToken() {
  std::random_device random;
  std::vector<uint8_t> token(32);
  for (auto& byte : token) byte = static_cast<uint8_t>(random());
  return token;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> parseHexToken(std::string_view text) {
  while (!text.empty() && (text.front() == '<' || text.front() == ' ')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '>' || text.back() == ' ')) text.remove_suffix(1);
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0 || bytes.empty() || bytes.size() > 256) return std::nullopt;
  return bytes;
}

std::variant<PushSettings, std::string> pushSettingsFromProfile(const json::Value* push) {
  PushSettings settings;
  if (push == nullptr) {
    settings.token = randomToken();
    return settings;
  }
  const json::Object* object = push->ifObject();
  if (!object) return std::string("\"push\" must be an object like {\"token\": \"0abc12ef\"} or {\"failure\": \"...\"}");
  const json::Value* token = object->find("token");
  const json::Value* failure = object->find("failure");
  if (token && failure) return std::string("\"push\" has both \"token\" and \"failure\"; give one");
  if (failure) {
    if (!failure->isString() || failure->asString().empty())
      return std::string("\"push.failure\" must be a message text");
    settings.failure = failure->asString();
    return settings;
  }
  if (!token) {
    settings.token = randomToken();
    return settings;
  }
  auto bytes = token->isString() ? parseHexToken(token->asString()) : std::nullopt;
  if (!bytes) return std::string("\"push.token\" must be hexadecimal text of 1 to 256 bytes, like \"0abc12ef\"");
  settings.token = std::move(*bytes);
  return settings;
}

SimulatedPushService::SimulatedPushService(base::MainThread& mainThread, ApplicationBadge* badge, PushSettings settings)
    : mainThread_(mainThread), badge_(badge), settings_(std::move(settings)) {}

SimulatedPushService::~SimulatedPushService() = default;

void SimulatedPushService::setDelegate(PushServiceDelegate* delegate) { delegate_ = delegate; }

void SimulatedPushService::registerForRemoteNotificationTypes(unsigned types) {
  {
    std::lock_guard lock(mutex_);
    requestedTypes_ = types;
  }
  log::info("push: the app registers for remote notifications (kinds " + std::to_string(types) + ")");
  mainThread_.post(alive_.guard([this] { reportRegistration(); }));
}

void SimulatedPushService::reportRegistration() {
  std::optional<std::vector<uint8_t>> token;
  std::string failure;
  {
    std::lock_guard lock(mutex_);
    if (!requestedTypes_) return;
    registered_ = settings_.token.has_value();
    if (settings_.token)
      token = settings_.token;
    else
      failure = settings_.failure.value_or("no push service");
  }
  if (!delegate_) return;
  if (token)
    delegate_->didRegisterForRemoteNotificationsWithDeviceToken(*token);
  else
    delegate_->didFailToRegisterForRemoteNotificationsWithError(failure);
}

void SimulatedPushService::setToken(std::vector<uint8_t> token) {
  std::lock_guard lock(mutex_);
  settings_.token = std::move(token);
  settings_.failure.reset();
}

void SimulatedPushService::setFailure(std::string message) {
  std::lock_guard lock(mutex_);
  settings_.failure = std::move(message);
  settings_.token.reset();
}

std::optional<unsigned> SimulatedPushService::registeredTypes() const {
  std::lock_guard lock(mutex_);
  return registered_ ? requestedTypes_ : std::nullopt;
}

std::optional<std::string> SimulatedPushService::deliver(const json::Object& payload) {
  if (!registeredTypes()) {
    return std::string("the app has not registered for push notifications, or its registration failed");
  }
  deliverRemoteNotification(payload, badge_, delegate_);
  return std::nullopt;
}

void SimulatedPushService::addControlCommands(control::ControlCommandRegistry& commands,
                                              std::optional<std::string> refusal) {
  using control::ControlAnswer;
  using control::ControlArguments;
  using control::ControlThread;
  commands.add({.name = "push token",
                .usage = "HEX",
                .help = "simulated push: registering gives this device token (told at once to a registered app)",
                .thread = ControlThread::Main,
                .handler = [this, refusal](ControlArguments& args) {
                  if (refusal) return ControlAnswer::error(*refusal);
                  std::string text = args.next("HEX");
                  args.end();
                  auto token = parseHexToken(text);
                  if (!token)
                    throw control::ControlUsageError("HEX must be hexadecimal bytes like 0abc12ef, not " +
                                                    control::ControlArguments::quoted(text));
                  bool wasRequested = [&] {
                    std::lock_guard lock(mutex_);
                    return requestedTypes_.has_value();
                  }();
                  setToken(std::move(*token));
                  if (wasRequested) reportRegistration();
                  return ControlAnswer::value(wasRequested ? "the app was given the new token"
                                                           : "the app gets this token when it registers");
                }});
  commands.add({.name = "push fail",
                .usage = "MESSAGE",
                .help = "simulated push: registering fails with MESSAGE (told at once to a registered app)",
                .thread = ControlThread::Main,
                .handler = [this, refusal](ControlArguments& args) {
                  if (refusal) return ControlAnswer::error(*refusal);
                  std::string message = args.rest("MESSAGE");
                  args.end();
                  bool wasRequested = [&] {
                    std::lock_guard lock(mutex_);
                    return requestedTypes_.has_value();
                  }();
                  setFailure(message);
                  if (wasRequested) reportRegistration();
                  return ControlAnswer::value(wasRequested ? "the app was told that registering failed"
                                                           : "registering will fail");
                }});
  commands.add({.name = "push deliver",
                .usage = "JSON",
                .help = "simulated push: a notification with the payload JSON (an object) reaches the app",
                .thread = ControlThread::Main,
                .handler = [this, refusal](ControlArguments& args) {
                  if (refusal) return ControlAnswer::error(*refusal);
                  json::Value payload = args.jsonValue("JSON");
                  args.end();
                  if (!payload.isObject()) throw control::ControlUsageError("JSON must be an object");
                  if (auto error = deliver(payload.asObject())) return ControlAnswer::error(*error);
                  return ControlAnswer::value("delivered");
                }});
}

}  // namespace tavero::platform
