#include "host/CallbackScript.h"

#include "json/JsonCodec.h"

namespace tavero::host {

std::string callbackScript(int callbackId, const std::optional<json::Value>& value) {
  json::Array argument;
  argument.push_back(value ? *value : json::Value(""));
  std::string script = "Kio.device.Communicator.invoke('";
  script += std::to_string(callbackId);
  script += "', ";
  json::JsonCodec::appendJsonStringForValue(script, json::Value(std::move(argument)), 0);
  script += ')';
  return script;
}

}  // namespace tavero::host
