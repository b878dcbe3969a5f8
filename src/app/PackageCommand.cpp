#include "app/PackageCommand.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <variant>

#include "app/BundleFileTree.h"
#include "app/BundleIdentifier.h"
#include "app/BundlePath.h"
#include "app/DebianControlFile.h"
#include "app/DebianPackageName.h"
#include "app/DebianPackageTree.h"
#include "app/DebianVersion.h"
#include "app/DesktopEntry.h"
#include "app/DpkgDeb.h"
#include "app/ExitStatus.h"
#include "app/PngImageSize.h"
#include "base/FileRead.h"
#include "platform/linux/PlistBundleReader.h"

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: tavero package BUNDLE --deb [--output DIR] [--name NAME] [--version VERSION]\n"
    "                      [--maintainer \"NAME <MAIL>\"] [--description TEXT]\n";

constexpr const char* kHelp =
    "\n"
    "Makes a Debian package of the web application in BUNDLE, which users install with\n"
    "apt or dpkg: the bundle read-only in /usr/share/tavero/apps/<id>, a desktop entry that\n"
    "runs it with the installed tavero and opens its URL schemes, its icon (CFBundleIconFile, a\n"
    "square PNG) and AppStream data. The package needs the tavero package of this version or\n"
    "newer. Its path is printed as the last line.\n"
    "\n"
    "From Info.plist: CFBundleIdentifier (the package name, in lower case), CFBundleVersion (the\n"
    "version), CFBundleDisplayName (the summary), TaveroPackageMaintainer (\"Name <mail>\"),\n"
    "TaveroPackageDescription, TaveroPackageLicense (SPDX), NSHumanReadableCopyright.\n"
    "Files and links are dated SOURCE_DATE_EPOCH when set, else by the bundle's newest file.\n"
    "\n"
    "  --deb                 make a Debian package (the only kind so far)\n"
    "  --output DIR          write it into DIR (default: the current folder)\n"
    "  --name NAME           the package name instead of the bundle identifier's\n"
    "  --version VERSION     the version instead of CFBundleVersion (may carry an epoch)\n"
    "  --maintainer M        instead of TaveroPackageMaintainer\n"
    "  --description TEXT    instead of TaveroPackageDescription\n"
    "  --help                print this text\n";

// The Debian sizes of the hicolor theme's application icons.
constexpr unsigned kIconSizes[] = {16, 22, 24, 32, 48, 64, 96, 128, 192, 256, 512};

struct PackageOptions {
  std::string bundle;
  bool deb = false;
  fs::path output = ".";
  std::optional<std::string> name, version, maintainer, description;
};

std::optional<PackageOptions> parseOptions(const std::vector<std::string>& args) {
  PackageOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--deb") {
      options.deb = true;
    } else if (arg == "--output" && hasValue) {
      options.output = args[++i];
    } else if (arg == "--name" && hasValue) {
      options.name = args[++i];
    } else if (arg == "--version" && hasValue) {
      options.version = args[++i];
    } else if (arg == "--maintainer" && hasValue) {
      options.maintainer = args[++i];
    } else if (arg == "--description" && hasValue) {
      options.description = args[++i];
    } else if (!arg.starts_with("--") && options.bundle.empty()) {
      options.bundle = bundlePathFromArgument(arg).string();
    } else {
      return std::nullopt;
    }
  }
  if (options.bundle.empty() || !options.deb) return std::nullopt;
  return options;
}


std::string quotedText(const std::string& text) { return "\"" + text + "\""; }

// Fills the plan's names and texts from the options and the bundle, or says what is wrong.
std::optional<std::string> fillNames(const PackageOptions& options, PackagePlan& plan) {
  const platform::BundleInfo& bundle = plan.bundle;
  plan.package = options.name.value_or(debianPackageNameFor(bundle.bundleIdentifier));
  if (auto problem = debianPackageNameProblem(plan.package))
    return options.name ? "--name " + quotedText(plan.package) + ": " + *problem
                        : "CFBundleIdentifier " + quotedText(bundle.bundleIdentifier) + " cannot name a Debian package: " +
                              *problem + " (or give the package's name with --name)";
  if (auto problem = bundleIdentifierProblem(bundle.bundleIdentifier))
    return "CFBundleIdentifier " + quotedText(bundle.bundleIdentifier) + " cannot name the installed app: " + *problem;

  if (options.version) {
    plan.version = *options.version;
    if (auto problem = debianVersionProblem(plan.version, EpochRule::allowed))
      return "--version " + quotedText(plan.version) + " is not a Debian version: " + *problem;
  } else if (bundle.bundleVersion) {
    plan.version = *bundle.bundleVersion;
    if (auto problem = debianVersionProblem(plan.version, EpochRule::refused))
      return "CFBundleVersion " + quotedText(plan.version) + " is not a Debian version: " + *problem +
             " (or give one with --version)";
  } else {
    return std::string("Info.plist has no CFBundleVersion: add one (like 1.0), or give --version");
  }

  if (!options.maintainer && !bundle.packageMaintainer)
    return std::string("no maintainer: add TaveroPackageMaintainer (\"Name <mail>\") to Info.plist, or give --maintainer");
  plan.maintainer = options.maintainer.value_or(bundle.packageMaintainer.value_or(""));
  if (auto problem = maintainerProblem(plan.maintainer))
    return std::string(options.maintainer ? "--maintainer" : "TaveroPackageMaintainer in Info.plist") + " " +
           quotedText(plan.maintainer) + ": " + *problem;

  plan.summary = bundle.displayName;
  if (auto problem = summaryProblem(plan.summary))
    return "CFBundleDisplayName " + quotedText(plan.summary) + " cannot be the package's summary: " + *problem;
  plan.description = options.description.value_or(bundle.packageDescription.value_or(
      bundle.displayName + " is a web application that runs in Tavero."));
  if (auto problem = descriptionProblem(plan.description))
    return std::string(options.description ? "--description"
                                           : bundle.packageDescription ? "TaveroPackageDescription in Info.plist"
                                                                       : "CFBundleDisplayName") +
           ": " + *problem;
  return std::nullopt;
}

// The bundle's icon, which must be a square PNG of a size the icon theme
// has: nothing when the bundle names none.
std::optional<std::string> findIcon(PackagePlan& plan) {
  if (!plan.bundle.iconFile) return std::nullopt;
  const std::string& named = *plan.bundle.iconFile;
  fs::path relative = fs::path(named).lexically_normal();
  auto inTree = std::find_if(plan.files.begin(), plan.files.end(), [&](const BundleFile& file) {
    return file.relative == relative && file.kind != BundleFile::Kind::folder;
  });
  if (relative.is_absolute() || inTree == plan.files.end())
    return "CFBundleIconFile " + quotedText(named) + " is not a file in the bundle";
  fs::path file = plan.bundle.path / relative;
  // Icons are small; a file this large is not one.
  auto size = pngImageSize(base::readFileText(file, 16 * 1024 * 1024).value_or(""));
  if (!size) return "CFBundleIconFile " + quotedText(named) + " is not a PNG image; the desktop's icon theme needs one";
  bool themed = std::find(std::begin(kIconSizes), std::end(kIconSizes), size->width) != std::end(kIconSizes);
  if (size->width != size->height || !themed)
    return "CFBundleIconFile " + quotedText(named) + " is " + std::to_string(size->width) + "x" +
           std::to_string(size->height) + " pixels; the icon theme takes square icons of 16, 22, 24, 32, 48, 64, "
           "96, 128, 192, 256 or 512 pixels (256 is a good choice)";
  plan.icon = PackageIcon{file, size->width};
  return std::nullopt;
}

// SOURCE_DATE_EPOCH when set, else the time of the bundle's newest file.
std::variant<std::time_t, std::string> packageDate(const PackagePlan& plan) {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    std::string text = epoch;
    if (text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
      return "SOURCE_DATE_EPOCH " + quotedText(text) + " is not a number of seconds";
    return static_cast<std::time_t>(std::stoll(text));
  }
  std::time_t newest = 0;
  struct stat info {};
  if (::lstat((plan.bundle.path / "Info.plist").c_str(), &info) == 0) newest = info.st_mtime;
  for (const auto& file : plan.files)
    if (::lstat((plan.bundle.path / file.relative).c_str(), &info) == 0) newest = std::max(newest, info.st_mtime);
  return newest;
}

std::string fileVersion(const std::string& version) {
  size_t colon = version.find(':');
  return colon == std::string::npos ? version : version.substr(colon + 1);
}

// A private staging folder, removed when this goes.
class StagingFolder {
 public:
  StagingFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/tavero-package-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
    // The folder is the package's root, "/" on the systems it installs on.
    if (!path_.empty()) ::chmod(path_.c_str(), 0755);
  }
  ~StagingFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

int fail(std::ostream& err, const std::string& message, int status) {
  err << "tavero package: " << message << "\n";
  return status;
}

}  // namespace

int runPackage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (std::find(args.begin(), args.end(), "--help") != args.end() || std::find(args.begin(), args.end(), "-h") != args.end()) {
    out << kUsage << kHelp;
    return kExitSuccess;
  }
  auto options = parseOptions(args);
  if (!options) {
    err << kUsage;
    return kExitUsage;
  }
  auto bundle = platform::readBundle(options->bundle);
  if (auto* problem = std::get_if<std::string>(&bundle)) return fail(err, *problem, kExitUsage);
  PackagePlan plan;
  plan.bundle = std::get<platform::BundleInfo>(bundle);
  plan.depends = std::string("tavero (>= ") + TAVERO_VERSION + ")";
  if (auto problem = fillNames(*options, plan)) return fail(err, *problem, kExitUsage);
  auto files = bundleFileTree(plan.bundle.path);
  if (auto* problem = std::get_if<std::string>(&files)) return fail(err, *problem, kExitUsage);
  plan.files = std::move(std::get<std::vector<BundleFile>>(files));
  if (auto problem = findIcon(plan)) return fail(err, *problem, kExitUsage);
  auto packaged = filesForPackage(plan.files, plan.icon ? plan.icon->file.lexically_relative(plan.bundle.path) : fs::path());
  if (auto* problem = std::get_if<std::string>(&packaged)) return fail(err, *problem, kExitUsage);
  plan.files = std::move(std::get<std::vector<BundleFile>>(packaged));
  auto date = packageDate(plan);
  if (auto* problem = std::get_if<std::string>(&date)) return fail(err, *problem, kExitUsage);
  plan.date = std::get<std::time_t>(date);

  std::error_code ec;
  fs::create_directories(options->output, ec);
  if (ec) return fail(err, "cannot make " + options->output.string() + ": " + ec.message(), kExitFailure);
  StagingFolder stage;
  if (stage.path().empty()) return fail(err, "cannot make a staging folder", kExitFailure);
  if (auto problem = writePackageTree(plan, stage.path())) return fail(err, *problem, kExitFailure);
  fs::path deb = fs::absolute(options->output / (plan.package + "_" + fileVersion(plan.version) + "_all.deb"), ec);
  if (auto problem = buildDebWithDpkgDeb(stage.path(), deb, plan.date)) return fail(err, *problem, kExitFailure);

  for (const auto& scheme : plan.bundle.urlSchemes)
    if (isDesktopScheme(scheme)) err << "tavero package: " << scheme << ": URLs belong to the desktop; not registered\n";
  out << deb.string() << "\n";
  return kExitSuccess;
}

}  // namespace tavero::app
