// The commands that join Tavero apps to the desktop:
//   tavero install [--take-schemes] BUNDLE
//                                   the bundle becomes a desktop application that handles its URL
//                                   schemes, those no other installed application opens (all of
//                                   them with --take-schemes)
//   tavero uninstall BUNDLE|ID      removes that again
//   tavero open-url URL [--from APP]
//                                   hands URL to the running app that owns its scheme, or starts the
//                                   installed app that does with it
// Each returns the exit status and prints to `out` / `err`.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/SchemeHandlers.h"

namespace tavero::app {

struct DesktopPlaces {
  std::filesystem::path applications;   // where desktop entries go (userApplicationsFolder())
  std::filesystem::path runningShells;  // control::RunningShells::defaultFolder()
  std::filesystem::path taveroBinary;   // this program, as entries run it
  // Who else opens a scheme (install asks before taking one); without it
  // install refuses to run.
  platform::SchemeHandlers* schemeHandlers = nullptr;
};

int runInstall(const std::vector<std::string>& args, const DesktopPlaces& places, std::ostream& out,
               std::ostream& err);
int runUninstall(const std::vector<std::string>& args, const DesktopPlaces& places, std::ostream& out,
                 std::ostream& err);
// Starting an installed app replaces this process with `tavero run`.
int runOpenURL(const std::vector<std::string>& args, const DesktopPlaces& places, std::ostream& out,
               std::ostream& err);

// The lower-case scheme of `url` ("MyApp://x" -> "myapp"), or "" when it
// does not start with one.
std::string urlScheme(const std::string& url);

}  // namespace tavero::app
