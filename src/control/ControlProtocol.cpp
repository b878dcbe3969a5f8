#include "control/ControlProtocol.h"

#include <algorithm>

#include "json/JsonCodec.h"
#include "json/Utf8.h"

namespace tavero::control {

std::string oneLineJSON(const json::Value& value) {
  // The writer breaks lines and indents with tabs only between members;
  // inside strings both are escaped, so dropping them keeps the text.
  std::string text = json::JsonCodec::jsonStringForValue(value, json::JsonCodec::jsonDoNotIndent);
  std::erase_if(text, [](char c) { return c == '\n' || c == '\t'; });
  return text;
}

std::string requestLine(const std::vector<std::string>& words) {
  json::Array array;
  for (const auto& word : words) array.emplace_back(json::withInvalidUTF8Replaced(word));
  json::Object request;
  request.append("arguments", json::Value(std::move(array)));
  return oneLineJSON(json::Value(std::move(request))) + "\n";
}

std::variant<std::vector<std::string>, std::string> parseRequestLine(std::string_view line) {
  if (!json::isValidUTF8(line)) return std::string("the request is not UTF-8 text");
  auto request = json::JsonCodec::dictionaryWithJSONString(line);
  if (!request) return std::string("the request is not a JSON object");
  const json::Value* arguments = request->find("arguments");
  const json::Array* array = arguments ? arguments->ifArray() : nullptr;
  if (!array) return std::string("the request has no \"arguments\" array");
  std::vector<std::string> words;
  for (const auto& word : *array) {
    if (!word.isString()) return std::string("every argument must be a string");
    words.push_back(word.asString());
  }
  return words;
}

std::string answerLine(const ControlAnswer& answer) {
  json::Object object;
  if (answer.ok())
    object.append("result", answer.value());
  else
    object.append("error", answer.errorMessage());
  return oneLineJSON(json::Value(std::move(object))) + "\n";
}

ControlAnswer parseAnswerLine(std::string_view line) {
  auto object = json::JsonCodec::dictionaryWithJSONString(line);
  if (!object) return ControlAnswer::error("the app sent an answer that is not JSON");
  if (const json::Value* error = object->find("error")) {
    return ControlAnswer::error(error->isString() ? error->asString() : oneLineJSON(*error));
  }
  if (const json::Value* result = object->find("result")) return ControlAnswer::value(*result);
  return ControlAnswer::error("the app sent an answer without a result or an error");
}

}  // namespace tavero::control
