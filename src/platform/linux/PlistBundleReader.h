// Reads a web application bundle: a folder holding Info.plist (XML or binary
// property list) and webapp/. Runs on any thread; touches nothing but the
// files it reads and the log.
#pragma once

#include <filesystem>
#include <string>
#include <variant>

#include "platform/Bundle.h"

namespace tavero::platform {

// The bundle in `folder`, or a one-line message for the user when it cannot
// be used: the folder is missing, Info.plist is missing or unreadable or not
// a property list (with the reason and, for XML, the line), its root is not
// a dictionary, or there is no webapp folder.
//
// The path is made absolute but not canonical: symbolic links and unusual
// characters (spaces included) are kept as given; a trailing separator is
// dropped. Missing keys take their defaults (see BundleInfo); an empty text
// counts as missing; a missing CFBundleIdentifier is warned about, since the
// folder name that stands in for it names the app's home. A key holding the
// wrong type (IndexPage or a name that is not text, orientations that are
// not an array of texts) is ignored with a warning naming the key.
std::variant<BundleInfo, std::string> readBundle(const std::filesystem::path& folder);

}  // namespace tavero::platform
