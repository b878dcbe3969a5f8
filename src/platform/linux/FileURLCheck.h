// Which file a file: URL really names. The web view's content rules judge
// URLs by their text, but the file loader decodes escapes and follows links:
// decisions about what a page may load are made on the file itself.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavero::platform {

// The file a file: URL names, as the loader will open it: decoded, made
// absolute and normal, symbolic links resolved. Nothing for a URL that is
// not a local file, or that hides separators, dots or NULs in escapes.
std::optional<std::filesystem::path> fileURLPath(const std::string& url);

// Whether the file a file: URL names is inside one of `folders` (judged on
// fileURLPath, so that neither escapes nor links lead out).
bool fileURLIsInside(const std::string& url, const std::vector<std::filesystem::path>& folders);

}  // namespace tavero::platform
