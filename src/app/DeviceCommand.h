// `tavero device [--home DIR | --app BUNDLE-ID] COMMAND ...`: sends one
// command to a running shell's control interface and prints its answer.
// Text answers are printed as they are, other answers as JSON; errors go to
// standard error with a non-zero exit status.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

namespace tavero::app {

// Runs `tavero device` with the arguments after "device"; returns the exit
// status (0 done, 1 the app refused or could not be reached, 2 bad usage).
// `runningShells` is the folder of running shells (control::RunningShells).
int runDevice(const std::vector<std::string>& args, const std::filesystem::path& runningShells, std::ostream& out,
              std::ostream& err);

// The control socket `tavero device` talks to, for `--home DIR`, `--app ID`
// or neither (empty strings); a message for the user when there is no
// single running app to choose.
std::variant<std::filesystem::path, std::string> chooseControlSocket(const std::string& home,
                                                                     const std::string& bundleIdentifier,
                                                                     const std::filesystem::path& runningShells);

}  // namespace tavero::app
