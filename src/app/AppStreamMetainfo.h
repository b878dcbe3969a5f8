// The AppStream metainfo file of an app's package
// (/usr/share/metainfo/<bundle id>.metainfo.xml): what software centres
// show of the app, tied to its desktop entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavero::app {

struct MetainfoFields {
  std::string identifier;    // the bundle identifier, also the desktop entry's name
  std::string name;          // CFBundleDisplayName
  std::string summary;       // one line
  std::vector<std::string> descriptionParagraphs;
  std::string developerName;
  std::string projectLicense;  // an SPDX expression, or empty
  std::string version;
  std::string releaseDate;     // "2026-12-08"
  std::vector<std::string> urlSchemes;
};

// The metainfo XML. The metadata itself is under FSFAP (AppStream asks for
// a permissive licence for it); every text is escaped for XML and control
// characters are left out (XML 1.0 cannot carry them).
std::string appStreamMetainfo(const MetainfoFields& fields);

// `text` escaped for XML element content and attribute values.
std::string xmlEscaped(std::string_view text);

}  // namespace tavero::app
