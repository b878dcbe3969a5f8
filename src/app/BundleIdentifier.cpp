#include "app/BundleIdentifier.h"

#include "base/AsciiText.h"

namespace tavero::app {

namespace {

// Labels as in host names; the whole as long as the desktop's file names allow with room to spare.
constexpr size_t kLongestLabel = 63;
constexpr size_t kLongestIdentifier = 155;

bool isLabelCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

std::optional<std::string> labelProblem(std::string_view label) {
  if (label.empty()) return "it has an empty part (two dots together, or a dot at an end)";
  if (label.size() > kLongestLabel) return "the part \"" + std::string(label.substr(0, 20)) + "...\" is longer than 63 characters";
  for (char c : label) {
    if (isLabelCharacter(c)) continue;
    std::string problem = "it may hold only ASCII letters, digits, \"-\" and \".\"";
    if (c > 0x20 && c < 0x7f) problem += std::string(" (not \"") + c + "\")";
    return problem;
  }
  if (label.front() == '-' || label.back() == '-') return "the part \"" + std::string(label) + "\" begins or ends with \"-\"";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> bundleIdentifierProblem(std::string_view identifier) {
  if (identifier.empty()) return "it is empty";
  if (identifier.size() > kLongestIdentifier) return "it is longer than 155 characters";
  if (identifier.find('.') == std::string_view::npos) return "it needs two or more parts joined by \".\"";
  size_t start = 0;
  while (true) {
    size_t dot = identifier.find('.', start);
    if (auto problem = labelProblem(identifier.substr(start, dot == std::string_view::npos ? dot : dot - start)))
      return problem;
    if (dot == std::string_view::npos) return std::nullopt;
    start = dot + 1;
  }
}

std::string bundleIdentifierForFolder(std::string_view folderName) {
  std::string label;
  bool gap = false;
  for (char c : folderName) {
    char lower = base::asciiLower(c);
    if (!((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9'))) {
      gap = true;
      continue;
    }
    bool dash = gap && !label.empty();
    if (label.size() + (dash ? 2 : 1) > kLongestLabel) break;
    if (dash) label += '-';
    label += lower;
    gap = false;
  }
  return "org.example." + (label.empty() ? std::string("app") : label);
}

}  // namespace tavero::app
