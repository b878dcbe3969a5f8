#include "platform/PushDelivery.h"

#include "json/JsonCodec.h"
#include "json/Utf8.h"

namespace tavero::platform {

void deliverRemoteNotification(const json::Object& payload, ApplicationBadge* badge, PushServiceDelegate* delegate) {
  const json::Value* aps = payload.find("aps");
  const json::Value* number = aps && aps->isObject() ? aps->asObject().find("badge") : nullptr;
  if (badge && number && number->isNumber()) badge->setApplicationIconBadgeNumber(static_cast<int>(number->toInt64()));
  if (delegate) delegate->didReceiveRemoteNotification(payload);
}

std::variant<json::Object, std::string> pushPayloadFromMessage(std::string_view body) {
  if (body.size() > kMaxPushMessageBytes) {
    return "the message has " + std::to_string(body.size()) + " bytes, more than the " +
           std::to_string(kMaxPushMessageBytes) + " a push message may have";
  }
  if (!json::isValidUTF8(body)) return std::string("the message is not UTF-8 text");
  // The JSON reader forgives text around the object; a message must be the
  // object alone.
  const auto first = body.find_first_not_of(" \t\r\n");
  const auto last = body.find_last_not_of(" \t\r\n");
  if (first == std::string_view::npos || body[first] != '{' || body[last] != '}')
    return std::string("the message is not a JSON object");
  auto payload = json::JsonCodec::dictionaryWithJSONString(body.substr(first, last - first + 1));
  if (!payload) return std::string("the message is not a JSON object");
  return std::move(*payload);
}

}  // namespace tavero::platform
