// The control interface's wire format: one request per line, one answer per
// line, each a JSON object on one line.
//
//   request:  {"arguments" : ["alert", "press", "1"]}
//   answer:   {"result" : <any JSON value>}   or   {"error" : "message"}
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/ControlAnswer.h"

namespace tavero::control {

// The request line for `words`, with its line feed.
std::string requestLine(const std::vector<std::string>& words);
// The words of a request line (without its line feed), or a message saying
// why it is not a request.
std::variant<std::vector<std::string>, std::string> parseRequestLine(std::string_view line);

// The answer line for `answer`, with its line feed.
std::string answerLine(const ControlAnswer& answer);
// The answer a line (without its line feed) carries; an error answer when
// the line is not one.
ControlAnswer parseAnswerLine(std::string_view line);

// `value` as JSON text on one line.
std::string oneLineJSON(const json::Value& value);

}  // namespace tavero::control
