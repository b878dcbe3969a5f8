// The exit statuses of every `tavero` command, as `tavero --help` and the
// docs/cli.md document them.
#pragma once

namespace tavero::app {

inline constexpr int kExitSuccess = 0;
// Something failed while running: no display, Xvfb or GTK would not start,
// the home could not be created, the start page could not be loaded (with
// --screenshot), the screenshot could not be written.
inline constexpr int kExitFailure = 1;
// Nothing was started: the command line is wrong, or the bundle or device
// profile it names cannot be used.
inline constexpr int kExitUsage = 2;

// The lines `--help` texts end with.
inline constexpr const char* kExitStatusHelp =
    "exit status:\n"
    "  0  success\n"
    "  1  a failure while running (the log on standard error says which)\n"
    "  2  a usage error: a wrong command line, or a bundle or device profile that cannot be used;\n"
    "     nothing was started\n";

}  // namespace tavero::app
