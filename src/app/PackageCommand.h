// tavero package BUNDLE --deb [--output DIR] [--name NAME] [--version VERSION]
//                [--maintainer "NAME <MAIL>"] [--description TEXT]
// makes a Debian package of the app in BUNDLE: the bundle installed under
// /usr/share/tavero/apps/<id>, its desktop entry, icon, AppStream metainfo
// and the files Debian wants (see DebianPackageTree.h). Prints the
// package's path as its last line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavero::app {

int runPackage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavero::app
