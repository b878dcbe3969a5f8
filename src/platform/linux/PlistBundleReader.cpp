#include "platform/linux/PlistBundleReader.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "base/AsciiText.h"
#include "base/FileRead.h"
#include "base/URLScheme.h"
#include "log/Log.h"
#include "platform/linux/PlistDiagnosis.h"

namespace tavero::platform {

namespace fs = std::filesystem;

namespace {

// Info.plist files are a few kilobytes; anything this large is not one, and
// libplist takes the length as 32 bits.
constexpr std::uintmax_t maximumPlistSize = 16u * 1024 * 1024;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::string quoted(const fs::path& path) {
  std::string text = "\"";
  text += path.string();
  text += '"';
  return text;
}

// `folder` absolute, without a trailing separator (so the folder name is its
// last component).
fs::path absoluteFolder(const fs::path& folder, std::error_code& ec) {
  fs::path path = fs::absolute(folder, ec);
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

// The folder's own name, for the defaults: "." and ".." components are
// resolved lexically so "./" names the current folder.
std::string folderName(const fs::path& absolute) {
  fs::path normal = absolute.lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return normal.filename().string();
}

void warnIgnored(const char* key, const char* expected) {
  log::warning(std::string("Info.plist: ") + key + " is not " + expected + "; ignored");
}

std::string stringOf(plist_t node) {
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  return text ? std::string(text, static_cast<size_t>(length)) : std::string();
}

// The text under `key`; nothing when absent, empty or not text (warned).
std::optional<std::string> stringValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node) return std::nullopt;
  if (plist_get_node_type(node) != PLIST_STRING) {
    warnIgnored(key, "a string");
    return std::nullopt;
  }
  std::string value = stringOf(node);
  if (value.empty()) return std::nullopt;
  return value;
}

// The texts under `key`; nothing when absent, or when it is not an array
// or holds anything but texts (warned: a half-read list would be wrong).
std::optional<std::vector<std::string>> stringArrayValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node) return std::nullopt;
  if (plist_get_node_type(node) != PLIST_ARRAY) {
    warnIgnored(key, "an array of strings");
    return std::nullopt;
  }
  std::vector<std::string> values;
  uint32_t count = plist_array_get_size(node);
  for (uint32_t i = 0; i < count; ++i) {
    plist_t item = plist_array_get_item(node, i);
    if (!item || plist_get_node_type(item) != PLIST_STRING) {
      warnIgnored(key, "an array of strings");
      return std::nullopt;
    }
    values.push_back(stringOf(item));
  }
  return values;
}

// The flag under `key`; false when absent or not a boolean (warned).
bool boolValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node) return false;
  if (plist_get_node_type(node) != PLIST_BOOLEAN) {
    warnIgnored(key, "a boolean");
    return false;
  }
  uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

bool isURLScheme(const std::string& text) { return text.size() <= 64 && base::isURLScheme(text); }

// The schemes of every URL type, lower-cased, each once; texts that are not
// schemes (one could carry a line break into a desktop entry) are skipped.
std::vector<std::string> urlSchemesOf(plist_t dict) {
  std::vector<std::string> schemes;
  plist_t types = plist_dict_get_item(dict, "CFBundleURLTypes");
  if (!types) return schemes;
  if (plist_get_node_type(types) != PLIST_ARRAY) {
    warnIgnored("CFBundleURLTypes", "an array of dictionaries");
    return schemes;
  }
  for (uint32_t i = 0; i < plist_array_get_size(types); ++i) {
    plist_t type = plist_array_get_item(types, i);
    if (!type || plist_get_node_type(type) != PLIST_DICT) continue;
    for (std::string scheme : stringArrayValue(type, "CFBundleURLSchemes").value_or(std::vector<std::string>{})) {
      if (!isURLScheme(scheme)) {
        log::warning("Info.plist: \"" + scheme + "\" in CFBundleURLSchemes is not a URL scheme; ignored");
        continue;
      }
      scheme = base::asciiLowercased(scheme);
      if (std::find(schemes.begin(), schemes.end(), scheme) == schemes.end()) schemes.push_back(scheme);
    }
  }
  return schemes;
}

std::optional<std::string> iconFileOf(plist_t dict) {
  if (auto icon = stringValue(dict, "CFBundleIconFile")) return icon;
  auto icons = stringArrayValue(dict, "CFBundleIconFiles");
  if (icons && !icons->empty() && !icons->front().empty()) return icons->front();
  return std::nullopt;
}

BundleInfo bundleFrom(plist_t dict, fs::path path) {
  BundleInfo info;
  std::string name = folderName(path);
  info.path = std::move(path);
  info.indexPage = stringValue(dict, "IndexPage");
  plist_t indexPage = plist_dict_get_item(dict, "IndexPage");
  if (indexPage && plist_get_node_type(indexPage) == PLIST_STRING &&
      base::trimAsciiWhiteSpace(stringOf(indexPage)).empty()) {
    // Would name the webapp folder itself: no page would load.
    log::warning(quoted(info.path / "Info.plist") + ": IndexPage is empty; the start page is index.html");
    info.indexPage.reset();
  }
  if (auto orientations = stringArrayValue(dict, "UISupportedInterfaceOrientations")) {
    info.supportedOrientations = std::move(*orientations);
  }
  if (auto identifier = stringValue(dict, "CFBundleIdentifier")) {
    info.bundleIdentifier = *identifier;
  } else {
    log::warning("Info.plist has no CFBundleIdentifier; the folder name \"" + name +
                 "\" stands in for it (it names the app's home), so renaming the folder changes the home");
    info.bundleIdentifier = name;
  }
  auto displayName = stringValue(dict, "CFBundleDisplayName");
  auto bundleName = stringValue(dict, "CFBundleName");
  info.displayName = displayName ? *displayName : bundleName.value_or(name);
  info.allowsPlainBridgeRequests = boolValue(dict, "TaveroAllowsPlainBridgeRequests");
  info.allowsDownloads = boolValue(dict, "TaveroAllowsDownloads");
  info.urlSchemes = urlSchemesOf(dict);
  info.iconFile = iconFileOf(dict);
  info.bundleVersion = stringValue(dict, "CFBundleVersion");
  info.packageMaintainer = stringValue(dict, "TaveroPackageMaintainer");
  info.packageDescription = stringValue(dict, "TaveroPackageDescription");
  info.packageLicense = stringValue(dict, "TaveroPackageLicense");
  info.copyright = stringValue(dict, "NSHumanReadableCopyright");
  return info;
}

}  // namespace

std::variant<BundleInfo, std::string> readBundle(const fs::path& folder) {
  std::error_code ec;
  fs::path path = absoluteFolder(folder, ec);
  if (ec) return "Could not resolve the bundle path " + quoted(folder) + ": " + ec.message();
  if (!fs::is_directory(path, ec)) return "Bundle folder not found: " + quoted(path);

  fs::path plistPath = path / "Info.plist";
  if (!fs::is_regular_file(plistPath, ec)) return "Bundle has no Info.plist: " + quoted(plistPath);
  auto data = base::readFileText(plistPath, maximumPlistSize);
  if (!data) return "Could not read " + quoted(plistPath);

  plist_t rawRoot = nullptr;
  if (!data->empty()) {
    plist_from_memory(data->data(), static_cast<uint32_t>(data->size()), &rawRoot);
  }
  PlistPtr root(rawRoot);
  if (!root) return quoted(plistPath) + " is not a property list: " + plistProblem(*data);
  if (plist_get_node_type(root.get()) != PLIST_DICT) {
    return "The root of " + quoted(plistPath) + " is not a dictionary";
  }

  if (!fs::is_directory(path / "webapp", ec)) {
    return "Bundle has no webapp folder: " + quoted(path / "webapp");
  }
  return bundleFrom(root.get(), std::move(path));
}

}  // namespace tavero::platform
