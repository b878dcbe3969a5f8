#include "platform/linux/DownloadRules.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/FileURLCheck.h"

namespace tavero::platform {
namespace {

constexpr int kMostNameTries = 1000;

// The last part of a suggested name, without what could make it a hidden
// file, a path or a line of its own; "download" when nothing is left.
std::string safeFileName(const std::string& suggested) {
  const size_t slash = suggested.find_last_of('/');
  const std::string name = slash == std::string::npos ? suggested : suggested.substr(slash + 1);
  std::string clean;
  for (unsigned char c : name)
    if (c >= 0x20 && c != 0x7f) clean += static_cast<char>(c);
  size_t start = clean.find_first_not_of(". ");
  clean = start == std::string::npos ? std::string() : clean.substr(start);
  if (clean.size() > 200) clean.resize(200);
  return clean.empty() ? std::string("download") : clean;
}

// "report.txt", try 2 -> "report (2).txt".
std::string numberedName(const std::string& name, int number) {
  if (number == 0) return name;
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) dot = name.size();
  return name.substr(0, dot) + " (" + std::to_string(number) + ")" + name.substr(dot);
}

}  // namespace

std::optional<std::string> downloadRefusal(const std::string& url, const DownloadRules& rules) {
  if (!rules.allowed) return std::string("the app does not allow downloads (Info.plist TaveroAllowsDownloads)");
  if (url.starts_with("blob:file://")) return std::nullopt;
  if (url.starts_with("file:")) {
    if (fileURLIsInside(url, rules.readableFolders)) return std::nullopt;
    return std::string("the file is outside the app's folders");
  }
  return std::string("only the app's own documents may download, from its files or blobs they make");
}

std::variant<std::filesystem::path, std::string> reserveDownloadFile(const std::filesystem::path& folder,
                                                                     const std::string& suggestedName) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return "cannot create " + folder.string() + ": " + ec.message();
  const std::string name = safeFileName(suggestedName);
  for (int number = 0; number < kMostNameTries; ++number) {
    std::filesystem::path candidate = folder / numberedName(name, number);
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) return "cannot create " + candidate.string() + ": " + std::strerror(errno);
  }
  return "every name for " + name + " is taken in " + folder.string();
}

std::filesystem::path userDownloadsFolder() {
  if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)) return folder;
  return std::filesystem::path(g_get_home_dir()) / "Downloads";
}

}  // namespace tavero::platform
