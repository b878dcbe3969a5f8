#include "app/BundleFileTree.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <system_error>

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 17> kLeftOutNames = {
    ".git", ".hg", ".svn", ".bzr", "_darcs", "CVS", ".gitignore", ".gitattributes", ".gitmodules",
    ".hgignore", ".idea", ".vscode", ".DS_Store", "Thumbs.db", ".directory", ".netrwhist", ".project"};

bool hasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A path for messages, one line whatever its name holds.
std::string quoted(const fs::path& path) {
  std::string text = "\"";
  for (char c : path.string()) {
    if (c == '\n')
      text += "\\n";
    else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      text += '?';
    else
      text += c;
  }
  return text + "\"";
}

// Where the link at `relative` points, relative to its own folder, when that
// stays inside the bundle; else a message.
std::variant<fs::path, std::string> checkedLinkTarget(const fs::path& bundle, const fs::path& relative) {
  std::error_code ec;
  fs::path target = fs::read_symlink(bundle / relative, ec);
  if (ec) return "cannot read the symbolic link " + quoted(relative) + ": " + ec.message();
  if (target.is_absolute())
    return "the symbolic link " + quoted(relative) + " is absolute (" + target.string() +
           "); make it relative to a file in the bundle, or copy the file in";
  fs::path resolved = (relative.parent_path() / target).lexically_normal();
  if (resolved.empty() || *resolved.begin() == "..")
    return "the symbolic link " + quoted(relative) + " points out of the bundle (" + target.string() +
           "); copy the file into the bundle instead";
  if (!fs::exists(bundle / resolved, ec))
    return "the symbolic link " + quoted(relative) + " points to nothing (" + target.string() + ")";
  for (const auto& part : resolved)
    if (isLeftOutOfPackages(part.string()))
      return "the symbolic link " + quoted(relative) + " points into " + part.string() +
             ", which packages leave out";
  if (resolved == ".") return "the symbolic link " + quoted(relative) + " points to the bundle itself";
  return resolved.lexically_relative(relative.parent_path().empty() ? fs::path(".") : relative.parent_path());
}

}  // namespace

bool isLeftOutOfPackages(const std::string& name) {
  if (std::find(kLeftOutNames.begin(), kLeftOutNames.end(), name) != kLeftOutNames.end()) return true;
  if (name.ends_with("~") || name.starts_with(".#")) return true;
  if (name.size() > 1 && name.starts_with("#") && name.ends_with("#")) return true;
  for (std::string_view swap : {".swp", ".swo", ".swx", ".kate-swp"})
    if (name.ends_with(swap)) return true;
  return false;
}

std::variant<std::vector<BundleFile>, std::string> bundleFileTree(const fs::path& bundle) {
  std::vector<BundleFile> files;
  std::error_code ec;
  fs::recursive_directory_iterator walk(bundle, fs::directory_options::none, ec);
  if (ec) return "cannot read " + quoted(bundle) + ": " + ec.message();
  for (auto end = fs::recursive_directory_iterator(); walk != end; walk.increment(ec)) {
    if (ec) return "cannot read " + quoted(bundle) + ": " + ec.message();
    const fs::directory_entry& entry = *walk;
    std::string name = entry.path().filename().string();
    fs::path relative = entry.path().lexically_relative(bundle);
    if (isLeftOutOfPackages(name)) {
      if (entry.is_directory(ec) && !entry.is_symlink(ec)) walk.disable_recursion_pending();
      continue;
    }
    if (hasControl(name))
      return "the name of " + quoted(relative) +
             " holds a control character (a line break?); Debian packages cannot list it: rename it";
    BundleFile file;
    file.relative = relative;
    auto status = entry.symlink_status(ec);
    if (ec) return "cannot read " + quoted(relative) + ": " + ec.message();
    if (fs::is_symlink(status)) {
      auto target = checkedLinkTarget(bundle, relative);
      if (auto* problem = std::get_if<std::string>(&target)) return *problem;
      file.kind = BundleFile::Kind::link;
      file.linkTarget = std::get<fs::path>(target);
    } else if (fs::is_directory(status)) {
      file.kind = BundleFile::Kind::folder;
    } else if (fs::is_regular_file(status)) {
      file.kind = BundleFile::Kind::file;
    } else {
      return quoted(relative) + " is a fifo, socket or device, which a package cannot hold; remove it from the bundle";
    }
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.relative < b.relative; });
  return files;
}

namespace {

// Whether `path` (relative to the bundle) is one the package holds.
bool isPackaged(const fs::path& path, const fs::path& icon) {
  if (path == "Info.plist" || path == icon) return true;
  if (!path.empty() && *path.begin() == "webapp") return true;
  // The folders on the way to the icon.
  auto [end, ignored] = std::mismatch(path.begin(), path.end(), icon.begin(), icon.end());
  return !icon.empty() && end == path.end();
}

}  // namespace

std::variant<std::vector<BundleFile>, std::string> filesForPackage(const std::vector<BundleFile>& tree,
                                                                   const fs::path& icon) {
  std::vector<BundleFile> kept;
  for (const auto& file : tree) {
    if (!isPackaged(file.relative, icon)) continue;
    if (file.kind == BundleFile::Kind::link) {
      fs::path target = (file.relative.parent_path() / file.linkTarget).lexically_normal();
      if (!isPackaged(target, icon))
        return "the symbolic link " + quoted(file.relative) + " points to " + quoted(target) +
               ", which the package leaves out (it holds Info.plist, webapp/ and the icon)";
    }
    kept.push_back(file);
  }
  return kept;
}

}  // namespace tavero::app
