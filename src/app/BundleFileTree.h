// The files of a bundle that go into its package, walked without following
// symbolic links. Left out, at any depth:
//   version control:   .git .hg .svn .bzr _darcs CVS .gitignore .gitattributes .gitmodules .hgignore
//   editors and IDEs:  *.swp *.swo *.swx *~ .#* #*# .idea .vscode
//   desktop litter:    .DS_Store Thumbs.db
// Refused, naming the path: symbolic links that are absolute, point out of
// the bundle (after resolving "..") or to nothing; fifos, sockets and
// devices; names with control characters (dpkg lists files line by line).
// Symbolic links inside the bundle are kept as relative links.
//
// Of those, a package holds what the shell reads: Info.plist, webapp/ and
// the icon. The rest of a bundle (README.md, device.json, tests/, types/,
// tsconfig.json of a new app) is for its developers.
#pragma once

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace tavero::app {

struct BundleFile {
  enum class Kind { folder, file, link };
  std::filesystem::path relative;  // to the bundle folder, sorted
  Kind kind = Kind::file;
  std::filesystem::path linkTarget;  // links: relative to the link's folder, normalised
};

// Whether a file or folder of this name stays out of packages.
bool isLeftOutOfPackages(const std::string& name);

// The bundle's files in path order, or a message naming the first that
// cannot be packaged.
std::variant<std::vector<BundleFile>, std::string> bundleFileTree(const std::filesystem::path& bundle);

// The files of `tree` a package holds: Info.plist, everything in webapp/,
// and `icon` (relative to the bundle) with its folders. A message when a
// kept link points to a file the package leaves out.
std::variant<std::vector<BundleFile>, std::string> filesForPackage(const std::vector<BundleFile>& tree,
                                                                   const std::filesystem::path& icon);

}  // namespace tavero::app
