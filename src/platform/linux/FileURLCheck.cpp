#include "platform/linux/FileURLCheck.h"

#include <glib.h>

#include <algorithm>

namespace tavero::platform {

std::optional<std::filesystem::path> fileURLPath(const std::string& url) {
  // The query and fragment are not part of the file's name.
  const std::string location = url.substr(0, url.find_first_of("?#"));
  if (location.find("%2e") != std::string::npos || location.find("%2E") != std::string::npos) return std::nullopt;
  // GLib refuses escaped separators and NULs, as the loader must.
  gchar* decoded = g_filename_from_uri(location.c_str(), nullptr, nullptr);
  if (!decoded) return std::nullopt;
  std::filesystem::path path(decoded);
  g_free(decoded);
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(path, ec);
  if (ec) return std::nullopt;
  return resolved;
}

bool fileURLIsInside(const std::string& url, const std::vector<std::filesystem::path>& folders) {
  auto path = fileURLPath(url);
  if (!path) return false;
  for (const auto& folder : folders) {
    std::error_code ec;
    auto root = std::filesystem::weakly_canonical(folder, ec);
    if (ec) continue;
    auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path->begin(), path->end());
    if (rootEnd == root.end()) return true;
  }
  return false;
}

}  // namespace tavero::platform
