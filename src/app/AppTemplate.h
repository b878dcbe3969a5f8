// The files `tavero create` writes into a new app folder. Their text comes
// from templates/app (and the page client's types) at build time; the
// placeholders in it name the new app:
//   @@APP_ID@@        its bundle identifier (letters, digits, "-" and ".": safe anywhere)
//   @@APP_NAME@@      its display name as given
//   @@APP_NAME_XML@@  the display name escaped for XML and HTML text
//   @@APP_NAME_JSON@@ the display name as a JSON string, quotes included
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavero::app {

struct TemplateFile {
  std::string_view path;  // relative to the app folder, "/"-separated
  std::string_view text;
  bool executable = false;  // a script the developer runs (tests/smoke.sh)
};

struct AppIdentity {
  std::string identifier;   // a valid bundle identifier (BundleIdentifier.h)
  std::string displayName;  // UTF-8 without control characters
};

// Every file of a new app, in a fixed order (generated at build time).
const std::vector<TemplateFile>& appTemplateFiles();

// `text` with every placeholder replaced by what it stands for in `app`.
std::string filledTemplate(std::string_view text, const AppIdentity& app);

}  // namespace tavero::app
