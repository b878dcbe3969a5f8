// What Tavero knows about the web application it runs: the bundle folder
// (Info.plist beside webapp/) and the Info.plist values the shell uses.
// A plain value; read it with platform::readBundle and share it freely.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavero::platform {

struct BundleInfo {
  std::filesystem::path path;                      // the bundle folder (absolute)
  std::optional<std::string> indexPage;            // Info.plist "IndexPage"
  std::vector<std::string> supportedOrientations;  // "UISupportedInterfaceOrientations"
  std::string bundleIdentifier;  // "CFBundleIdentifier" (default: the folder name)
  std::string displayName;  // "CFBundleDisplayName" (default: CFBundleName, then the folder name)
  // "TaveroAllowsPlainBridgeRequests": the bundle's pages call the bridge
  // without the page token (the plain fixed protocol). Off by default: with
  // it, web content framed in the app could call the bridge too.
  bool allowsPlainBridgeRequests = false;
  // "TaveroAllowsDownloads": the bundle's documents may download files (of
  // the app's folders, or blobs they make) into the Downloads folder. Off by
  // default: every download is refused.
  bool allowsDownloads = false;
  // The URL schemes the app handles ("CFBundleURLTypes", each type's
  // "CFBundleURLSchemes"), in lower case, each once; only texts that are
  // URL schemes (a letter, then letters, digits, "+", "-" or ".").
  std::vector<std::string> urlSchemes;
  // "CFBundleIconFile" (else the first of "CFBundleIconFiles"): an image
  // file inside the bundle folder, as a path relative to it.
  std::optional<std::string> iconFile;
  // What `tavero package` reads besides the above (nothing when absent or
  // empty): "CFBundleVersion", "TaveroPackageMaintainer" ("Name <mail>"),
  // "TaveroPackageDescription", "TaveroPackageLicense" (an SPDX expression)
  // and "NSHumanReadableCopyright".
  std::optional<std::string> bundleVersion;
  std::optional<std::string> packageMaintainer;
  std::optional<std::string> packageDescription;
  std::optional<std::string> packageLicense;
  std::optional<std::string> copyright;

  // The folder with app.json and the pages.
  std::filesystem::path webappPath() const { return path / "webapp"; }
};

}  // namespace tavero::platform
