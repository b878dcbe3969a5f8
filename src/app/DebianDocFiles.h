// The files Debian wants in /usr/share/doc/<package> of an app's package:
// `copyright` (from the bundle's NSHumanReadableCopyright and
// TaveroPackageLicense) and the changelog (one entry for the
// packaged version), and the dates both are stamped with.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace tavero::app {

struct DocFields {
  std::string package;
  std::string version;
  std::string maintainer;
  std::string bundleIdentifier;
  std::string copyright;  // empty: not stated in the bundle
  std::string license;    // empty: not stated in the bundle
  std::time_t date = 0;
};

std::string debianCopyrightText(const DocFields& fields);

// The changelog, not yet compressed.
std::string debianChangelogText(const DocFields& fields);

// `text` as gzip at the highest compression, without a file name or time
// in the header, so the same text always gives the same bytes.
std::optional<std::string> gzipped(const std::string& text);

// "Tue, 08 Dec 2026 02:30:00 +0000", whatever the locale.
std::string rfc2822Date(std::time_t date);
// "2026-12-08".
std::string isoDay(std::time_t date);

}  // namespace tavero::app
