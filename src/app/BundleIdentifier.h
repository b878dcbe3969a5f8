// Bundle identifiers for new apps. An identifier names the app's home
// folder, its desktop entry and its running shell, so `tavero create`
// accepts only reverse-DNS names: two or more labels of ASCII letters,
// digits and "-" (not at a label's ends), joined by ".", as in
// "org.example.notes".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavero::app {

// Why `identifier` is not a reverse-DNS bundle identifier, or nullopt when
// it is one.
std::optional<std::string> bundleIdentifierProblem(std::string_view identifier);

// A valid identifier for an app in a folder named `folderName`:
// "org.example." and the name in lower case, with every run of characters
// other than ASCII letters and digits made one "-" ("My Notes!" ->
// "org.example.my-notes"); "org.example.app" when no letter or digit is left.
std::string bundleIdentifierForFolder(std::string_view folderName);

}  // namespace tavero::app
