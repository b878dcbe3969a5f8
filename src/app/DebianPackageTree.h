// The file tree of an app's Debian package, written into a staging folder
// for dpkg-deb:
//   usr/share/tavero/apps/<id>/...                   the bundle (files 0644, folders 0755)
//   usr/share/applications/<id>.desktop              runs it with /usr/bin/tavero, opens its URL schemes
//   usr/share/icons/hicolor/<N>x<N>/apps/<id>.png    its icon, when it has one
//   usr/share/metainfo/<id>.metainfo.xml             AppStream
//   usr/share/lintian/overrides/<package>            the entry's command is in the tavero package
//   usr/share/doc/<package>/copyright, changelog.Debian.gz (changelog.gz when
//                                                    the version has no Debian revision: a native package)
//   DEBIAN/control, DEBIAN/md5sums
// Every file and folder gets the package's date as its time, so the same
// bundle and date give the same package.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/BundleFileTree.h"
#include "platform/Bundle.h"

namespace tavero::app {

struct PackageIcon {
  std::filesystem::path file;  // inside the bundle
  unsigned size = 0;           // square, in pixels
};

struct PackagePlan {
  platform::BundleInfo bundle;     // as read
  std::vector<BundleFile> files;   // bundleFileTree(bundle.path)
  std::string package;
  std::string version;
  std::string maintainer;
  std::string summary;
  std::string description;
  std::string depends;
  std::optional<PackageIcon> icon;
  std::time_t date = 0;
};

// Where packages install an app's bundle: /usr/share/tavero/apps/<id>.
std::filesystem::path installedBundleFolder(const std::string& bundleIdentifier);

// Writes the tree into `stage` (an empty folder); a message when a file
// cannot be read or written.
std::optional<std::string> writePackageTree(const PackagePlan& plan, const std::filesystem::path& stage);

}  // namespace tavero::app
