// `tavero run BUNDLE`: the web application in a real web view.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavero::app {

struct RunOptions {
  std::filesystem::path bundle;
  std::optional<std::filesystem::path> home;
  std::optional<std::filesystem::path> deviceProfile;
  bool headless = false;  // on a private X display (Xvfb); nothing appears on screen
  // A PNG of the page once the start page has loaded; the shell exits after
  // writing it (documentation shots, smoke tests, launch benchmarks).
  std::optional<std::filesystem::path> screenshot;
};

// Reads the arguments after "run"; nullopt (after printing why) on bad input.
std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args);

// Runs until the window closes, SIGINT or SIGTERM; returns the exit status.
int runApplication(const RunOptions& options);

}  // namespace tavero::app
