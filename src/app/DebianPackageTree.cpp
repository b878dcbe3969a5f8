#include "app/DebianPackageTree.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "app/AppStreamMetainfo.h"
#include "app/DebianControlFile.h"
#include "app/DebianDocFiles.h"
#include "app/DesktopEntry.h"
#include "base/FileRead.h"

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

constexpr auto kFolderMode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec;
constexpr auto kFileMode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

// Bundles hold pages, scripts and images; nothing near this size.
constexpr std::uintmax_t kLargestFile = std::uintmax_t{1} << 31;

std::string md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

class TreeWriter {
 public:
  TreeWriter(const fs::path& stage) : stage_(stage) {}

  std::optional<std::string> folder(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(stage_ / path, ec);
    if (ec) return "cannot make " + path.string() + ": " + ec.message();
    for (fs::path part = path; !part.empty(); part = part.parent_path()) {
      if (!folders_.insert(part).second) break;
      fs::permissions(stage_ / part, kFolderMode, ec);
      kiB_ += 1;
    }
    return std::nullopt;
  }

  std::optional<std::string> file(const fs::path& path, const std::string& content) {
    if (auto problem = folder(path.parent_path())) return problem;
    if (auto problem = writeBytes(stage_ / path, content)) return problem;
    kiB_ += (content.size() + 1023) / 1024;
    sums_ += md5Hex(content) + "  " + path.string() + "\n";
    return std::nullopt;
  }

  std::optional<std::string> link(const fs::path& path, const fs::path& target) {
    if (auto problem = folder(path.parent_path())) return problem;
    std::error_code ec;
    fs::create_symlink(target, stage_ / path, ec);
    if (ec) return "cannot make the link " + path.string() + ": " + ec.message();
    kiB_ += 1;
    return std::nullopt;
  }

  std::optional<std::string> control(const std::string& text) {
    if (auto problem = folder("DEBIAN")) return problem;
    if (auto problem = writeBytes(stage_ / "DEBIAN" / "md5sums", sums_)) return problem;
    return writeBytes(stage_ / "DEBIAN" / "control", text);
  }

  std::uintmax_t installedSizeKiB() const { return kiB_; }

 private:
  static std::optional<std::string> writeBytes(const fs::path& path, const std::string& content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return "cannot write " + path.filename().string();
    size_t written = 0;
    while (written < content.size()) {
      ssize_t n = ::write(fd, content.data() + written, content.size() - written);
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    ::fchmod(fd, 0644);
    bool ok = written == content.size() && ::close(fd) == 0;
    if (!ok) return "cannot write " + path.filename().string();
    return std::nullopt;
  }

  fs::path stage_;
  std::set<fs::path> folders_;  // made so far
  std::string sums_;
  std::uintmax_t kiB_ = 0;
};

std::string desktopEntryText(const PackagePlan& plan) {
  platform::BundleInfo installed = plan.bundle;
  installed.path = installedBundleFolder(plan.bundle.bundleIdentifier);
  installed.iconFile.reset();  // named by the theme below, not by path
  auto entry = desktopEntryFor(installed, "/usr/bin/tavero");
  std::string text = std::get<DesktopEntry>(entry).text;  // the fixed paths have no control characters
  // Unquoted: xdg-open's own launcher (desktops without a file manager of
  // their own) splits Exec at spaces and keeps quotes. The paths are fixed
  // and the identifier holds only letters, digits, "." and "-".
  size_t exec = text.find("\nExec=");
  size_t end = text.find('\n', exec + 1);
  text.replace(exec + 1, end - exec - 1, "Exec=/usr/bin/tavero run " + installed.path.string() + " %u");
  if (plan.icon) text += "Icon=" + plan.bundle.bundleIdentifier + "\n";
  text += "Categories=Network;\n";
  return text;
}

std::string metainfoText(const PackagePlan& plan) {
  MetainfoFields fields{.identifier = plan.bundle.bundleIdentifier,
                        .name = plan.summary,
                        .summary = plan.summary,
                        .descriptionParagraphs = descriptionParagraphs(plan.description),
                        .developerName = maintainerName(plan.maintainer),
                        .projectLicense = plan.bundle.packageLicense.value_or(""),
                        .version = plan.version,
                        .releaseDate = isoDay(plan.date),
                        .urlSchemes = {}};
  for (const auto& scheme : plan.bundle.urlSchemes)
    if (!isDesktopScheme(scheme)) fields.urlSchemes.push_back(scheme);
  return appStreamMetainfo(fields);
}

std::optional<std::string> writeBundle(const PackagePlan& plan, TreeWriter& tree) {
  fs::path root = fs::path("usr/share/tavero/apps") / plan.bundle.bundleIdentifier;
  if (auto problem = tree.folder(root)) return problem;
  for (const auto& file : plan.files) {
    std::optional<std::string> problem;
    if (file.kind == BundleFile::Kind::folder) {
      problem = tree.folder(root / file.relative);
    } else if (file.kind == BundleFile::Kind::link) {
      problem = tree.link(root / file.relative, file.linkTarget);
    } else {
      auto content = base::readFileText(plan.bundle.path / file.relative, kLargestFile);
      if (!content) return "cannot read " + (plan.bundle.path / file.relative).string();
      problem = tree.file(root / file.relative, *content);
    }
    if (problem) return problem;
  }
  return std::nullopt;
}

// Gives every file, link and folder below `stage` the package's time.
void stampTimes(const fs::path& stage, std::time_t date) {
  const timespec times[2] = {{date, 0}, {date, 0}};
  std::error_code ec;
  for (auto walk = fs::recursive_directory_iterator(stage, ec); !ec && walk != fs::recursive_directory_iterator();
       walk.increment(ec))
    ::utimensat(AT_FDCWD, walk->path().c_str(), times, AT_SYMLINK_NOFOLLOW);
  ::utimensat(AT_FDCWD, stage.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

fs::path installedBundleFolder(const std::string& bundleIdentifier) {
  return fs::path("/usr/share/tavero/apps") / bundleIdentifier;
}

std::optional<std::string> writePackageTree(const PackagePlan& plan, const fs::path& stage) {
  TreeWriter tree(stage);
  const std::string& id = plan.bundle.bundleIdentifier;
  if (auto problem = writeBundle(plan, tree)) return problem;
  if (auto problem = tree.file(fs::path("usr/share/applications") / (id + ".desktop"), desktopEntryText(plan)))
    return problem;
  if (plan.icon) {
    auto image = base::readFileText(plan.icon->file, kLargestFile);
    if (!image) return "cannot read the icon " + plan.icon->file.string();
    std::string size = std::to_string(plan.icon->size);
    if (auto problem = tree.file(fs::path("usr/share/icons/hicolor") / (size + "x" + size) / "apps" / (id + ".png"), *image))
      return problem;
  }
  if (auto problem = tree.file(fs::path("usr/share/metainfo") / (id + ".metainfo.xml"), metainfoText(plan)))
    return problem;
  // The entry runs /usr/bin/tavero, which the tavero package this one depends on holds.
  std::string entryPath = "usr/share/applications/" + id + ".desktop";
  if (auto problem = tree.file(fs::path("usr/share/lintian/overrides") / plan.package,
                               plan.package + ": desktop-command-not-in-package usr/bin/tavero [" + entryPath + "]\n"))
    return problem;
  DocFields doc{.package = plan.package,
                .version = plan.version,
                .maintainer = plan.maintainer,
                .bundleIdentifier = id,
                .copyright = plan.bundle.copyright.value_or(""),
                .license = plan.bundle.packageLicense.value_or(""),
                .date = plan.date};
  fs::path docFolder = fs::path("usr/share/doc") / plan.package;
  if (auto problem = tree.file(docFolder / "copyright", debianCopyrightText(doc))) return problem;
  auto changelog = gzipped(debianChangelogText(doc));
  if (!changelog) return std::string("cannot compress the changelog");
  // A version without a Debian revision makes a native package, whose changelog has the plain name.
  const char* changelogName = plan.version.find('-') == std::string::npos ? "changelog.gz" : "changelog.Debian.gz";
  if (auto problem = tree.file(docFolder / changelogName, *changelog)) return problem;

  DebianControlFields control{.package = plan.package,
                              .version = plan.version,
                              .maintainer = plan.maintainer,
                              .summary = plan.summary,
                              .description = plan.description,
                              .depends = plan.depends,
                              .installedSizeKiB = tree.installedSizeKiB()};
  if (auto problem = tree.control(debianControlText(control))) return problem;
  stampTimes(stage, plan.date);
  return std::nullopt;
}

}  // namespace tavero::app
