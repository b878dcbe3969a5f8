// The words that follow a control command's name ("url open myapp://x
// --from org.example.mail" gives "myapp://x", "--from", "org.example.mail"),
// read by a command's handler.
//
// Read options first (they may stand anywhere), then the positional words in
// order, then call end() before acting, so that a command with a stray word
// does nothing. Every reading function throws ControlUsageError with a
// message for the user when the words do not fit; the registry turns it into
// an error answer that also shows the command's usage.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "json/JsonValue.h"

namespace tavero::control {

class ControlUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ControlArguments {
 public:
  explicit ControlArguments(std::vector<std::string> words) : words_(std::move(words)) {}

  // Takes "--name VALUE" out of the words wherever it stands; nullopt when
  // it is absent. Throws when the option has no value or is given twice.
  std::optional<std::string> option(std::string_view name);
  // Takes the word "--name" out of the words wherever it stands; whether it
  // was there. Throws when it is given twice.
  bool flag(std::string_view name);

  // The next word; throws naming `what` when there is none.
  std::string next(std::string_view what);
  // The next word, or nullopt when none is left.
  std::optional<std::string> nextIfAny();
  // Every word left, joined with single spaces (a message given without
  // quotes); throws naming `what` when none is left.
  std::string rest(std::string_view what);

  // The next word as a whole decimal number within [min, max].
  int64_t integer(std::string_view what, int64_t min, int64_t max);
  // The next word as JSON text of an object or an array.
  json::Value jsonValue(std::string_view what);

  // Throws when words are left over.
  void end() const;
  bool empty() const { return position_ >= words_.size(); }

  // `word` in double quotes for a message: at most 60 characters (longer
  // words are cut, marked with "..."), control characters shown as "?".
  static std::string quoted(std::string_view word);

 private:
  std::vector<std::string> words_;
  size_t position_ = 0;
};

}  // namespace tavero::control
