// A bundle folder as people type it on the command line (".", "./app",
// "../app", "/x/../app", "app/") made into the one absolute, normalised path
// every part of the shell then uses: the start page's URL, the content
// rules that allow the bundle's files, the desktop entry's Exec line.
#pragma once

#include <filesystem>
#include <string_view>

namespace tavero::app {

// `argument` resolved against the working folder, with "." and ".."
// resolved as the system does (through symbolic links, so "link/.." is the
// link target's parent) and no trailing separator. A path that does not
// exist is normalised as far as it goes, so the error that follows names
// what the user meant.
std::filesystem::path bundlePathFromArgument(std::string_view argument);

}  // namespace tavero::app
