// Debian versions for apps' packages: `tavero package` takes the bundle's
// CFBundleVersion as it is, so it has to be one:
//   [epoch:]upstream[-revision]
// upstream starts with a digit and holds letters, digits, ".", "+", "~" (and
// "-" when a revision follows, which is what follows the last "-");
// revision holds letters, digits, ".", "+" and "~"; epoch is a number.
// An epoch changes how every later version compares, so it is a decision of
// whoever publishes the packages: a bundle's version may not carry one,
// only `--version` may.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavero::app {

enum class EpochRule { refused, allowed };

// Why `version` is not a Debian version, naming the character or part at
// fault; nullopt when it is one.
std::optional<std::string> debianVersionProblem(std::string_view version, EpochRule epochs);

}  // namespace tavero::app
