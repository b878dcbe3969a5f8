// `tavero serve`: the bridge with every module and no web view. Each
// callback script that would go to a page is written to standard output as
// one JSON line {"page": ..., "script": ...}; logs go to standard error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tavero::app {

struct ServeOptions {
  uint16_t port = 3000;
  std::filesystem::path home;  // where modules keep their files
  bool help = false;           // --help: print printServeHelp's text instead of serving
};

// Reads "--port N" and "--home DIR"; nullopt (after printing why) on bad input.
std::optional<ServeOptions> parseServeOptions(const std::vector<std::string>& args);

// The text of `tavero serve --help`.
void printServeHelp(std::ostream& out);

// The standard-output line for one callback script (without the line feed).
std::string scriptLine(const std::string& page, const std::string& script);

// Runs until SIGINT or SIGTERM; returns the process exit status.
int runServe(const ServeOptions& options);

}  // namespace tavero::app
