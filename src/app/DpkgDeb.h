// Builds a .deb from a staging folder with Debian's dpkg-deb: files owned
// by root, entries in name order, times clamped to the package's date
// (SOURCE_DATE_EPOCH), so the same tree gives the same bytes.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace tavero::app {

// Runs `dpkg-deb --root-owner-group --build STAGE OUTPUT`; a message when
// dpkg-deb is not installed or fails (its own messages go to standard error).
std::optional<std::string> buildDebWithDpkgDeb(const std::filesystem::path& stage, const std::filesystem::path& output,
                                               std::time_t date);

}  // namespace tavero::app
