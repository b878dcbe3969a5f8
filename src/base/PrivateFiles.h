// Files and folders only their user may use: what an app keeps (databases,
// file systems, preferences, pictures, web data) is that user's alone, so
// the shell makes folders 0700 and files 0600 whatever the process's umask,
// and takes group and other permissions away from what an older version
// left open.
//
// Any thread; each call works on the paths it is given only.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tavero::base {

// Creates `folder` and every missing folder above it, each new one with
// mode 0700; folders that exist are left as they are.
std::error_code createPrivateFolders(const std::filesystem::path& folder);

// Creates `file` empty with mode 0600 when it does not exist (an empty file
// is a new database to SQLite, which then keeps that mode for its journal
// files). Whatever exists at `file` already (a file, a symbolic link) is
// left as it is.
std::error_code createPrivateFile(const std::filesystem::path& file);

struct PrivacyRepair {
  size_t folders = 0;  // folders whose group and other permissions were taken away
  size_t files = 0;    // other entries (files, sockets...) likewise
  std::vector<std::string> errors;  // what could not be read or changed
};

// How far makePrivate goes.
enum class Reach { justRoot, wholeTree };

// Takes the group and other permissions away from `root` and, with
// Reach::wholeTree, everything below it. Symbolic links are neither
// followed nor changed; a folder is made private before what is in it is
// looked at, so that nobody else can swap an entry for a link meanwhile.
// A missing `root` changes nothing.
PrivacyRepair makePrivate(const std::filesystem::path& root, Reach reach = Reach::wholeTree);

// Adds what `part` changed and met to this.
void addRepair(PrivacyRepair& total, const PrivacyRepair& part);

}  // namespace tavero::base
