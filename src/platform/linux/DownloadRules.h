// Which downloads go ahead, and where they are saved. A download goes ahead
// only when the bundle allows downloads and its URL is one that only the
// app's own documents can make: a file of the app's folders, or a blob made
// by one of its documents (blob:file://...). WebKit does not say which frame
// started a download, so data: URLs, which any framed web site can make as
// well, are refused. A download is saved in the Downloads folder under a
// name no file has yet.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavero::platform {

struct DownloadRules {
  bool allowed = false;  // the bundle lets its documents download
  std::vector<std::filesystem::path> readableFolders;
};

// Why a download of `url` is refused; nothing when it may go ahead.
std::optional<std::string> downloadRefusal(const std::string& url, const DownloadRules& rules);

// Creates an empty file for a download suggested as `suggestedName` in
// `folder` ("report.txt", else "report (1).txt"...), never one that exists;
// its path, or an error message.
std::variant<std::filesystem::path, std::string> reserveDownloadFile(const std::filesystem::path& folder,
                                                                     const std::string& suggestedName);

// The user's Downloads folder (XDG), or ~/Downloads.
std::filesystem::path userDownloadsFolder();

}  // namespace tavero::platform
