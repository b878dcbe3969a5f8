// What every push service does with a notification for the app, whichever
// road it came by: the payload's "aps"."badge", when it is a number, is set
// on the icon first (as the device does), then the delegate hears of it.
// And the check every message from outside the process goes through before
// it may become a payload.
//
// Thread rules: any thread for pushPayloadFromMessage; deliverRemoteNotification
// on the thread the delegate is called on (the main thread).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "json/JsonValue.h"
#include "platform/ApplicationBadge.h"
#include "platform/PushService.h"

namespace tavero::platform {

// The largest message body accepted from a push server: the size push
// servers guarantee to carry (4 KiB).
constexpr size_t kMaxPushMessageBytes = 4096;

// Sets the badge of `payload` (badge may be null) and tells `delegate` (may be null).
void deliverRemoteNotification(const json::Object& payload, ApplicationBadge* badge, PushServiceDelegate* delegate);

// The payload a message body carries: UTF-8 JSON text of one object, at
// most kMaxPushMessageBytes. Otherwise a message saying what is wrong with
// it (for the log; the body itself is not quoted).
std::variant<json::Object, std::string> pushPayloadFromMessage(std::string_view body);

}  // namespace tavero::platform
