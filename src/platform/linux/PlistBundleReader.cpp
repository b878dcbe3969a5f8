#include "platform/linux/PlistBundleReader.h"

#include <plist/plist.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "log/Log.h"

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

std::optional<std::string> readSmallFile(const fs::path& file) {
  std::error_code ec;
  auto size = fs::file_size(file, ec);
  if (ec || size > maximumPlistSize) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return data;
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

BundleInfo bundleFrom(plist_t dict, fs::path path) {
  BundleInfo info;
  std::string name = folderName(path);
  info.path = std::move(path);
  info.indexPage = stringValue(dict, "IndexPage");
  if (auto orientations = stringArrayValue(dict, "UISupportedInterfaceOrientations")) {
    info.supportedOrientations = std::move(*orientations);
  }
  info.bundleIdentifier = stringValue(dict, "CFBundleIdentifier").value_or(name);
  auto displayName = stringValue(dict, "CFBundleDisplayName");
  auto bundleName = stringValue(dict, "CFBundleName");
  info.displayName = displayName ? *displayName : bundleName.value_or(name);
  info.allowsPlainBridgeRequests = boolValue(dict, "TaveroAllowsPlainBridgeRequests");
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
  auto data = readSmallFile(plistPath);
  if (!data) return "Could not read " + quoted(plistPath);

  plist_t rawRoot = nullptr;
  if (!data->empty()) {
    plist_from_memory(data->data(), static_cast<uint32_t>(data->size()), &rawRoot);
  }
  PlistPtr root(rawRoot);
  if (!root) return quoted(plistPath) + " is not a property list";
  if (plist_get_node_type(root.get()) != PLIST_DICT) {
    return "The root of " + quoted(plistPath) + " is not a dictionary";
  }

  if (!fs::is_directory(path / "webapp", ec)) {
    return "Bundle has no webapp folder: " + quoted(path / "webapp");
  }
  return bundleFrom(root.get(), std::move(path));
}

}  // namespace tavero::platform
