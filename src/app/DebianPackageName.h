// Debian package names for apps: `tavero package` names an app's package
// after its bundle identifier in lower case ("org.Example.Notes" ->
// "org.example.notes"). Debian allows lower-case letters, digits, "+", "-"
// and ".", starting with a letter or digit, two characters at least.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavero::app {

// `bundleIdentifier` in lower case (ASCII only; anything else is kept for
// debianPackageNameProblem to name).
std::string debianPackageNameFor(std::string_view bundleIdentifier);

// Why `name` is not a Debian package name, naming the character at fault
// and what to write instead; nullopt when it is one.
std::optional<std::string> debianPackageNameProblem(std::string_view name);

}  // namespace tavero::app
