// Checks the integer options of one page call against the values a module
// accepts, so that a value out of range is refused instead of guessed at
// (a source 99 must not open the photo library). The page client checks
// the same ranges first; this is the check that counts, since any page can
// send any text.
//
//   OptionCheck check(call, "camera");
//   int32_t source = check.integer("source", 0, 0, 2, "0 (photo library), 1 (camera) or 2 (saved photos album)");
//   if (check.refused()) return fail(*check.refusal());
//
// An option is read when its text is an integer and nothing else (white
// space around it allowed); an absent or empty one gives the fallback.
// The first refusal is kept, as the page's message ("Refused: ..." , which
// the page client turns into code INVALID_ARGUMENT), and logged as a
// refusal (bounded: see RefusalLog).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/Invocation.h"

namespace tavero::modules {

class OptionCheck {
 public:
  static constexpr std::string_view kRefusedPrefix = "Refused: ";

  OptionCheck(const bridge::Invocation& call, std::string_view module);

  // `key` when it is absent, empty or an integer from `low` to `high`;
  // otherwise records the refusal ("`key` must be `allowed`") and gives
  // the fallback.
  int64_t integer(std::string_view key, int64_t fallback, int64_t low, int64_t high, std::string_view allowed);

  // Records a refusal the module found itself.
  void refuse(const std::string& why);

  bool refused() const { return refusal_.has_value(); }
  // The page's message for the first refusal.
  const std::optional<std::string>& refusal() const { return refusal_; }

  // The integer a whole text stands for, or nothing (also beyond 64 bits).
  static std::optional<int64_t> wholeInteger(std::string_view text);

 private:
  const bridge::Invocation& call_;
  std::string module_;
  std::optional<std::string> refusal_;
};

}  // namespace tavero::modules
