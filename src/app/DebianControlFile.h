// The control file of an app's Debian package (DEBIAN/control), and the
// checks of the values a developer gives it: the maintainer
// ("Name <mail@example.org>"), the one-line summary and the longer
// description, which is wrapped and indented as Debian's format wants.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavero::app {

struct DebianControlFields {
  std::string package;     // checked with debianPackageNameProblem
  std::string version;     // checked with debianVersionProblem
  std::string maintainer;  // checked with maintainerProblem
  std::string summary;     // checked with summaryProblem
  std::string description; // paragraphs separated by empty lines; checked with descriptionProblem
  std::string depends;     // "tavero (>= 1.2.0)"
  std::uintmax_t installedSizeKiB = 0;
};

// Why `maintainer` is not "Name <address>" (one line, a name without
// "<", ">" or ",", an address with one "@" and no spaces); nullopt when it is.
std::optional<std::string> maintainerProblem(std::string_view maintainer);

// The name part of a checked maintainer ("Ana Lima <ana@example.org>" -> "Ana Lima").
std::string maintainerName(std::string_view maintainer);

// Why `summary` cannot be the package's one-line summary (empty, a control
// character, longer than 80 characters); nullopt when it can.
std::optional<std::string> summaryProblem(std::string_view summary);

// Why `description` cannot be the package's description (control
// characters other than line breaks and tabs); nullopt when it can.
std::optional<std::string> descriptionProblem(std::string_view description);

// The description's paragraphs, each as one line of words separated by
// single spaces (line breaks inside a paragraph, runs of white space and
// tabs become one space).
std::vector<std::string> descriptionParagraphs(std::string_view description);

// The control file's text.
std::string debianControlText(const DebianControlFields& fields);

}  // namespace tavero::app
