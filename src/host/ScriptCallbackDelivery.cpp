#include "host/ScriptCallbackDelivery.h"

#include "host/CallbackScript.h"

namespace tavero::host {

void ScriptCallbackDelivery::invokeCallback(int callbackId, const std::optional<json::Value>& value,
                                            std::string_view page) {
  target_(std::string(page), callbackScript(callbackId, value));
}

}  // namespace tavero::host
