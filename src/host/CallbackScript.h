// The script that hands a later answer to the page's bridge client.
#pragma once

#include <optional>
#include <string>

#include "json/JsonValue.h"

namespace tavero::host {

// "Kio.device.Communicator.invoke('<id>', [<value>])": the id in decimal and
// the value as the JSON text of a one-element array (a missing value becomes
// the empty string).
std::string callbackScript(int callbackId, const std::optional<json::Value>& value);

}  // namespace tavero::host
