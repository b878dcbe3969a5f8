#include "app/DebianControlFile.h"

#include <algorithm>
#include <sstream>

namespace tavero::app {

namespace {

// Lines of the description stay within what a terminal shows.
constexpr size_t kWidestDescriptionLine = 79;
constexpr size_t kLongestSummary = 80;

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool hasControl(std::string_view text) { return std::any_of(text.begin(), text.end(), isControl); }

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> found;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!word.empty()) found.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) found.push_back(std::move(word));
  return found;
}

// One paragraph of the extended description: words filled into lines, each
// line indented by one space (a word longer than a line gets its own line).
std::string filledParagraph(const std::string& paragraph) {
  std::string text, line;
  for (const auto& word : words(paragraph)) {
    if (!line.empty() && line.size() + 1 + word.size() > kWidestDescriptionLine) {
      text += " " + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) text += " " + line + "\n";
  return text;
}

}  // namespace

std::optional<std::string> maintainerProblem(std::string_view maintainer) {
  if (hasControl(maintainer)) return "it must be one line";
  size_t open = maintainer.find('<');
  if (open == std::string_view::npos || maintainer.empty() || maintainer.back() != '>')
    return "it must be a name and a mail address in angle brackets, like \"Ana Lima <ana@example.org>\"";
  std::string_view name = maintainer.substr(0, open);
  std::string_view address = maintainer.substr(open + 1, maintainer.size() - open - 2);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.empty() || name.front() == ' ') return "it needs a name before the mail address";
  if (name.find_first_of("<>,") != std::string_view::npos)
    return "the name may not hold \"<\", \">\" or \",\" (a comma would make it a list of maintainers)";
  size_t at = address.find('@');
  if (address.empty() || at == 0 || at == std::string_view::npos || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string_view::npos || address.find_first_of(" <>,") != std::string_view::npos)
    return "\"" + std::string(address) + "\" is not a mail address";
  return std::nullopt;
}

std::string maintainerName(std::string_view maintainer) {
  std::string_view name = maintainer.substr(0, maintainer.find('<'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return std::string(name);
}

std::optional<std::string> summaryProblem(std::string_view summary) {
  if (words(summary).empty()) return "it is empty";
  if (hasControl(summary)) return "it must be one line";
  if (summary.size() > kLongestSummary) return "it is longer than 80 characters";
  return std::nullopt;
}

std::optional<std::string> descriptionProblem(std::string_view description) {
  for (char c : description)
    if (isControl(c) && c != '\n' && c != '\t' && c != '\r') return "it holds a control character";
  if (words(description).empty()) return "it is empty";
  return std::nullopt;
}

std::vector<std::string> descriptionParagraphs(std::string_view description) {
  std::vector<std::string> paragraphs;
  std::string current;
  std::istringstream lines{std::string(description)};
  for (std::string line; std::getline(lines, line);) {
    auto lineWords = words(line);
    if (lineWords.empty()) {
      if (!current.empty()) paragraphs.push_back(std::move(current));
      current.clear();
      continue;
    }
    for (const auto& word : lineWords) current += (current.empty() ? "" : " ") + word;
  }
  if (!current.empty()) paragraphs.push_back(std::move(current));
  return paragraphs;
}

std::string debianControlText(const DebianControlFields& fields) {
  std::string text;
  text += "Package: " + fields.package + "\n";
  text += "Version: " + fields.version + "\n";
  text += "Architecture: all\n";
  text += "Maintainer: " + fields.maintainer + "\n";
  text += "Installed-Size: " + std::to_string(fields.installedSizeKiB) + "\n";
  text += "Depends: " + fields.depends + "\n";
  text += "Section: web\n";
  text += "Priority: optional\n";
  std::string summary;
  for (const auto& word : words(fields.summary)) summary += (summary.empty() ? "" : " ") + word;
  text += "Description: " + summary + "\n";
  bool first = true;
  for (const auto& paragraph : descriptionParagraphs(fields.description)) {
    if (!first) text += " .\n";
    text += filledParagraph(paragraph);
    first = false;
  }
  return text;
}

}  // namespace tavero::app
