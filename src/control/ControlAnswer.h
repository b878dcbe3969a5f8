// What a control command answers: a JSON value, or a message that says why
// the command could not be done. A plain value.
#pragma once

#include <string>
#include <utility>

#include "json/JsonValue.h"

namespace tavero::control {

class ControlAnswer {
 public:
  static ControlAnswer value(json::Value value) { return ControlAnswer(std::move(value), {}); }
  // An empty message is replaced by a generic one, so that an error always
  // reads as one.
  static ControlAnswer error(std::string message) {
    return ControlAnswer({}, message.empty() ? std::string("the command failed") : std::move(message));
  }

  bool ok() const { return error_.empty(); }
  // REQUIRES: ok().
  const json::Value& value() const { return value_; }
  // REQUIRES: !ok(). Never empty.
  const std::string& errorMessage() const { return error_; }

 private:
  ControlAnswer(json::Value value, std::string error)
      : value_(std::move(value)), error_(std::move(error)) {}

  json::Value value_;
  std::string error_;  // empty when the command succeeded
};

}  // namespace tavero::control
