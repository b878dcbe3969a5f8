// file: URLs for paths of the bundle.
#pragma once

#include <filesystem>
#include <string>

namespace tavero::platform {

// "file://" and the absolute path with every byte outside the unreserved
// characters and "/" percent-encoded ("/app/My Page.html" gives
// "file:///app/My%20Page.html").
std::string fileURLForPath(const std::filesystem::path& path);

}  // namespace tavero::platform
