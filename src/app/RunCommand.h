// `tavero run BUNDLE`: the web application in a real web view.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/DevelopmentServer.h"

namespace tavero::app {

struct RunOptions {
  std::filesystem::path bundle;
  std::optional<std::filesystem::path> home;
  std::optional<std::filesystem::path> deviceProfile;
  // --location system: the machine's position through GeoClue instead of
  // the simulated device's.
  bool systemLocation = false;
  // --contacts folder|system: the vCard folder, or the desktop's address
  // books (Evolution Data Server); none: the device profile's contacts.source.
  std::optional<bool> systemContacts;
  std::optional<bool> systemCamera;  // --camera system|simulated; unset: the profile's camera.source
  // --push unifiedpush|simulated and --notifications desktop|none; unset:
  // the device profile's choice, else the defaults (see ServiceRoads.h).
  std::optional<bool> unifiedPush;
  std::optional<bool> desktopNotifications;
  bool headless = false;  // on a private X display (Xvfb); nothing appears on screen
  // A PNG of the page once the start page has loaded; the shell exits after
  // writing it (documentation shots, smoke tests, launch benchmarks).
  std::optional<std::filesystem::path> screenshot;
  // The bridge's port (--port): 3000, which pages expect, unless a test
  // asks for another; 0 takes any free loopback port.
  uint16_t port = 3000;
  // --automation: a WebDriver server (WebKitWebDriver) may drive the app's
  // page; whoever reaches that server controls the app.
  bool automation = false;
  // --watch: the pages reload when a file of webapp/ changes.
  bool watch = false;
  // --dev-server URL: the start page comes from this development server on
  // a loopback address instead of webapp/ (checked when read).
  std::optional<DevelopmentServer> developmentServer;
  bool help = false;  // --help: print printRunHelp's text instead of running
  // A URL that opens the app (a desktop entry passes it after the bundle),
  // and the application that asked (--from); handed to a running shell of
  // the same home instead when there is one.
  std::optional<std::string> openURL;
  std::string sourceApplication;
};

// Reads the arguments after "run"; nullopt (after printing why) on bad input.
std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args);

// The text of `tavero run --help`.
void printRunHelp(std::ostream& out);

// Runs until the window closes, SIGINT or SIGTERM; returns the exit status
// (see ExitStatus.h): usage when the bundle or device profile cannot be
// used, failure when the shell cannot start or, with a screenshot, the
// start page does not load or the picture cannot be written.
int runApplication(const RunOptions& options);

}  // namespace tavero::app
