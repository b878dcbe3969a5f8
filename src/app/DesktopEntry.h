// Desktop entries that make a bundle an application of the desktop: its
// name and icon in the menus, and its URL schemes registered as
// x-scheme-handler/<scheme>, so that `xdg-open myapp://x` (or a link in a
// browser) starts `tavero run BUNDLE URL`, which hands the URL to the
// running app or starts it with the URL.
//
// An entry is named tavero-<bundle id>.desktop and records the bundle's
// folder (X-Tavero-Bundle) so that `tavero open-url` can start the app
// that owns a scheme.
//
// Pure functions apart from the files named; any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Bundle.h"

namespace tavero::app {

struct DesktopEntry {
  std::string fileName;  // "tavero-org.example.notes.desktop"
  std::string text;
  std::vector<std::string> schemes;         // registered
  std::vector<std::string> refusedSchemes;  // belong to the desktop (http, file, mailto...)
};

// The entry for `bundle`, run by the `tavero` binary at `taveroBinary`; a
// message when the bundle's or the binary's path cannot be written into
// one (control characters).
std::variant<DesktopEntry, std::string> desktopEntryFor(const platform::BundleInfo& bundle,
                                                        const std::filesystem::path& taveroBinary);

// "tavero-<id>.desktop", with every character of the id other than a
// letter, digit, ".", "-" or "_" replaced by "_".
std::string desktopEntryFileName(std::string_view bundleIdentifier);

// Schemes the desktop's own programs handle, which an app may not take
// over (http, https, file, mailto, ...).
bool isDesktopScheme(std::string_view scheme);

// $XDG_DATA_HOME/applications, else $HOME/.local/share/applications.
std::filesystem::path userApplicationsFolder();

// Writes the entry into `folder` (made if missing), replacing the bundle's
// earlier one, and refreshes the desktop's cache of URL handlers when
// update-desktop-database is installed. The entry, or a message.
std::variant<DesktopEntry, std::string> installDesktopEntry(const platform::BundleInfo& bundle,
                                                            const std::filesystem::path& folder,
                                                            const std::filesystem::path& taveroBinary);
// Removes the entry of `bundleIdentifier` from `folder`; false when there
// was none.
bool uninstallDesktopEntry(std::string_view bundleIdentifier, const std::filesystem::path& folder);

// Records in `folder`'s mimeinfo.cache that the entry `fileName` handles
// exactly `schemes` (none: it handles nothing any more), keeping what the
// cache says of other entries. This is what update-desktop-database does
// for every entry; it is used where that tool is not installed.
void updateSchemeHandlerCache(const std::filesystem::path& folder, const std::string& fileName,
                              const std::vector<std::string>& schemes);

struct InstalledApp {
  std::filesystem::path entry;
  std::string bundleIdentifier;
  std::filesystem::path bundle;
  std::vector<std::string> schemes;
};

// The Tavero apps installed in `folder`, from their entries.
std::vector<InstalledApp> installedApps(const std::filesystem::path& folder);

}  // namespace tavero::app
