#include "modules/URLOpeningPolicy.h"

#include <algorithm>
#include <array>

#include "base/AsciiText.h"
#include "base/URLScheme.h"

namespace tavero::modules {
namespace {

constexpr size_t kMaxURLLength = 32 * 1024;

// Local files, file-system views of the desktop, network file systems
// (which also leak the user's credentials to a server), and scripts.
constexpr std::array<std::string_view, 30> kRefusedSchemes = {
    "file",   "data",     "javascript", "vbscript", "about",  "blob",  "filesystem", "view-source",
    "resource", "smb",    "sftp",       "ftp",      "ftps",   "dav",   "davs",       "nfs",
    "afp",    "ssh",      "trash",      "recent",   "computer", "network", "burn",   "admin",
    "archive", "mtp",     "gphoto2",    "afc",      "google-drive", "x-nautilus-desktop"};

bool isURLCharacter(unsigned char c) {
  // Printable ASCII without space and the characters a URL must escape.
  if (c <= 0x20 || c >= 0x7f) return false;
  return std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
}

}  // namespace

URLOpeningVerdict urlOpeningVerdict(std::string_view url) {
  URLOpeningVerdict verdict;
  if (url.empty()) {
    verdict.reason = "there is no URL";
    return verdict;
  }
  if (url.size() > kMaxURLLength) {
    verdict.reason = "the URL is longer than " + std::to_string(kMaxURLLength) + " bytes";
    return verdict;
  }
  if (!std::all_of(url.begin(), url.end(), [](char c) { return isURLCharacter(static_cast<unsigned char>(c)); })) {
    verdict.reason = "it is not a valid URL (spaces, line breaks and other characters must be percent-encoded)";
    return verdict;
  }
  std::string_view scheme = base::urlSchemeOf(url);
  if (scheme.empty()) {
    verdict.reason = "it has no scheme (such as https:)";
    return verdict;
  }
  verdict.scheme = base::asciiLowercased(scheme);
  if (std::find(kRefusedSchemes.begin(), kRefusedSchemes.end(), verdict.scheme) != kRefusedSchemes.end()) {
    verdict.reason = "pages may not open \"" + verdict.scheme + ":\" URLs (local files, file systems and scripts)";
    return verdict;
  }
  verdict.allowed = true;
  return verdict;
}

}  // namespace tavero::modules
