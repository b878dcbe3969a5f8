#include "webextension/BundleDocumentRule.h"

namespace tavero::webextension {

BundleDocumentRule::BundleDocumentRule(std::vector<std::string> urlPatterns, std::string developmentOrigin)
    : urlPatterns_(std::move(urlPatterns)), developmentOrigin_(std::move(developmentOrigin)) {}

bool BundleDocumentRule::isBundleDocument(std::string_view url) const {
  for (const auto& pattern : urlPatterns_)
    if (matchesPattern(pattern, url)) return true;
  return !developmentOrigin_.empty() && originOf(url) == developmentOrigin_;
}

std::string BundleDocumentRule::originOf(std::string_view url) {
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos || schemeEnd == 0) return {};
  const std::string_view scheme = url.substr(0, schemeEnd);
  // Only web origins: a blob: or data: URL has none of its own here.
  if (scheme != "http" && scheme != "https") return {};
  const size_t authorityStart = schemeEnd + 3;
  const size_t authorityEnd = url.find_first_of("/?#", authorityStart);
  std::string_view authority = url.substr(authorityStart, authorityEnd == std::string_view::npos
                                                              ? std::string_view::npos
                                                              : authorityEnd - authorityStart);
  // User information ("user@host") makes no part of the origin, and a page
  // must not pass for the development server by carrying its name there.
  if (authority.empty() || authority.find('@') != std::string_view::npos) return {};
  return std::string(url.substr(0, authorityStart)) + std::string(authority);
}

// `*` matches any run of characters; iterative, so a hostile URL cannot
// make it take long (at most pattern × URL steps).
bool BundleDocumentRule::matchesPattern(std::string_view pattern, std::string_view url) {
  size_t p = 0, u = 0;
  size_t starAt = std::string_view::npos, resumeAt = 0;
  while (u < url.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = u;
    } else if (p < pattern.size() && pattern[p] == url[u]) {
      ++p;
      ++u;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      u = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace tavero::webextension
