#include "platform/FileURL.h"

#include "json/Hex.h"

namespace tavero::platform {

std::string fileURLForPath(const std::filesystem::path& path) {
  std::string text = std::filesystem::absolute(path).string();
  std::string url = "file://";
  for (unsigned char c : text) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      json::appendHex(url, c, json::HexCase::upper);
    }
  }
  return url;
}

}  // namespace tavero::platform
