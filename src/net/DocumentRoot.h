// Serving files from a document root without ever leaving it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::net {

// The contents of the regular file that the request target's path names
// under `root`, or nullopt when there is none or it lies outside `root`.
// The path is percent-decoded; "..", their encoded forms and symbolic links
// that lead out of the root all count as outside. The query is ignored.
std::optional<std::string> readFileInsideDocumentRoot(const std::filesystem::path& root,
                                                      std::string_view target);

}  // namespace tavero::net
