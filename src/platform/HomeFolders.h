// The private home of one web application: where its documents, caches,
// preferences and the web view's stored data live. A plain value; the
// accessors only build paths (nothing is created until createHomeFolders).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tavero::platform {

struct HomeFolders {
  std::filesystem::path home;

  std::filesystem::path documents() const { return home / "Documents"; }
  std::filesystem::path library() const { return home / "Library"; }
  std::filesystem::path applicationSupport() const { return library() / "Application Support"; }
  std::filesystem::path caches() const { return library() / "Caches"; }
  std::filesystem::path preferences() const { return library() / "Preferences"; }
  // The web view's base data directory.
  std::filesystem::path webData() const { return library() / "WebKit"; }
  // Where the web view keeps each origin's localStorage database.
  std::filesystem::path localStorageFolder() const { return webData() / "localstorage"; }
  // The address book's vCard files.
  std::filesystem::path contacts() const { return home / "Contacts"; }
};

// The home for a bundle: `override` if given (made absolute), else
// $XDG_DATA_HOME/tavero/<bundle id> when that variable holds an absolute
// path, else $HOME/.local/share/tavero/<bundle id> (the password database's
// home folder when HOME is unset or empty).
//
// The bundle id is used as one folder name, so one that could leave the
// tavero folder is sanitised: every "/" (and NUL) becomes "_", and an id
// that is empty, "." or ".." is prefixed with "_".
// Reads the environment; call it from one thread while nothing changes it.
HomeFolders homeFoldersFor(const std::string& bundleIdentifier,
                           const std::optional<std::filesystem::path>& override);

// The folder name homeFoldersFor uses for `bundleIdentifier`.
std::string homeFolderName(const std::string& bundleIdentifier);

// Makes the home ready and private to this user: creates every folder of
// `folders` that is missing, with missing parents (mode 0700), and takes
// group and other permissions away from the home folder and from
// everything the shell keeps in it (Documents, Library, Contacts and what
// they hold; symbolic links are not followed), logging what it changed.
// Returns a message naming the folder that could not be created, or nothing
// on success. Any thread.
std::optional<std::string> createHomeFolders(const HomeFolders& folders);

}  // namespace tavero::platform
