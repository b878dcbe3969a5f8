#include "app/DebianVersion.h"

namespace tavero::app {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlphanumeric(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Characters of the upstream part (without "-" and ":", checked apart).
bool isUpstreamCharacter(char c) { return isAlphanumeric(c) || c == '.' || c == '+' || c == '~'; }

std::string shown(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7f) return std::string("\"") + c + "\"";
  return byte == ' ' ? "a space" : "a control or non-ASCII character";
}

std::optional<std::string> partProblem(std::string_view part, const char* what, bool hyphens) {
  for (char c : part) {
    if (isUpstreamCharacter(c) || (hyphens && c == '-')) continue;
    return std::string("the ") + what + " may not hold " + shown(c) +
           " (letters, digits, \".\", \"+\" and \"~\" only)";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> debianVersionProblem(std::string_view version, EpochRule epochs) {
  if (version.empty()) return "it is empty";
  size_t colon = version.find(':');
  if (colon != std::string_view::npos) {
    if (epochs == EpochRule::refused)
      return "it has an epoch (\"" + std::string(version.substr(0, colon + 1)) +
             "\"); leave it out of the bundle's version (give it with --version if the packages need one)";
    std::string_view epoch = version.substr(0, colon);
    if (epoch.empty() || epoch.find_first_not_of("0123456789") != std::string_view::npos)
      return "its epoch (before \":\") must be a number";
    version = version.substr(colon + 1);
    if (version.find(':') != std::string_view::npos) return "it has more than one \":\"";
  }
  size_t hyphen = version.rfind('-');
  std::string_view upstream = version.substr(0, hyphen);
  if (upstream.empty()) return "the part before the revision is empty";
  if (!isDigit(upstream.front())) return "it must start with a digit, not " + shown(upstream.front());
  if (auto problem = partProblem(upstream, "version", hyphen != std::string_view::npos)) return problem;
  if (hyphen != std::string_view::npos) {
    std::string_view revision = version.substr(hyphen + 1);
    if (revision.empty()) return "it ends with \"-\" (a Debian revision follows the last \"-\")";
    if (auto problem = partProblem(revision, "revision (after the last \"-\")", false)) return problem;
  }
  return std::nullopt;
}

}  // namespace tavero::app
