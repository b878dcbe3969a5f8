// The `tavero` command line.
#include <malloc.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/CreateCommand.h"
#include "app/DesktopCommands.h"
#include "app/DesktopEntry.h"
#include "app/DeviceCommand.h"
#include "app/ExitStatus.h"
#include "app/PackageCommand.h"
#include "app/RunCommand.h"
#include "app/ServeCommand.h"
#include "control/RunningShells.h"
#include "platform/linux/GioSchemeHandlers.h"

namespace {

using namespace tavero::app;

void printUsage(std::ostream& out) {
  out << "usage:\n"
         "  tavero create DIR [--id ID] [--name NAME]\n"
         "                                          make a new web application in DIR, ready to run\n"
         "  tavero run BUNDLE [--home DIR] [--device FILE] [--headless] [--screenshot FILE]\n"
         "                                          run a web application in the shell\n"
         "  tavero serve [--port N] [--home DIR]   run the bridge without a web view\n"
         "  tavero device [--home DIR | --app BUNDLE-ID] COMMAND ...\n"
         "                                          drive a running app's device (\"tavero device help\")\n"
         "  tavero open-url URL [--from APP]       open the app that owns URL's scheme with it\n"
         "  tavero install [--take-schemes] BUNDLE\n"
         "                                          make BUNDLE a desktop app that opens its URL schemes\n"
         "  tavero uninstall BUNDLE|BUNDLE-ID      remove it from the desktop again\n"
         "  tavero package BUNDLE --deb [--output DIR]\n"
         "                                          make a Debian package of the app in BUNDLE\n"
         "  tavero --version                       print the version\n"
         "\"tavero COMMAND --help\" describes a command.\n";
}

}  // namespace

int main(int argc, char** argv) {
  // Fixed thresholds: large blocks (SQL answers, file contents) are mapped
  // and given back to the system when freed. With glibc's moving
  // thresholds, freeing one large block raises them, and memory that later
  // answers took stayed with the process.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
  // The shell's own threads (bridge workers, control socket, simulated
  // sensors, store, GLib's and WebKit's) allocate little; sharing two
  // arenas instead of one each keeps their partly used heaps out of the
  // shell's peak memory (about 1.3 MB less on the demo).
  mallopt(M_ARENA_MAX, 2);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    printUsage(std::cerr);
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printUsage(std::cout);
    std::cout << "\n" << kExitStatusHelp;
    return kExitSuccess;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "tavero " << TAVERO_VERSION << "\n";
    return kExitSuccess;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "create") return runCreate(args, std::cout, std::cerr);
  if (command == "run") {
    auto options = parseRunOptions(args);
    if (!options) return kExitUsage;
    if (!options->help) return runApplication(*options);
    printRunHelp(std::cout);
    return kExitSuccess;
  }
  if (command == "serve") {
    auto options = parseServeOptions(args);
    if (!options) return kExitUsage;
    if (!options->help) return runServe(*options);
    printServeHelp(std::cout);
    return kExitSuccess;
  }
  if (command == "device") {
    return runDevice(args, tavero::control::RunningShells::defaultFolder(), std::cout, std::cerr);
  }
  if (command == "package") return runPackage(args, std::cout, std::cerr);
  if (command == "install" || command == "uninstall" || command == "open-url") {
    std::error_code ec;
    tavero::platform::GioSchemeHandlers schemeHandlers;
    tavero::app::DesktopPlaces places{.applications = tavero::app::userApplicationsFolder(),
                                      .runningShells = tavero::control::RunningShells::defaultFolder(),
                                      .taveroBinary = std::filesystem::read_symlink("/proc/self/exe", ec),
                                      .schemeHandlers = &schemeHandlers};
    if (command == "install") return runInstall(args, places, std::cout, std::cerr);
    if (command == "uninstall") return runUninstall(args, places, std::cout, std::cerr);
    return runOpenURL(args, places, std::cout, std::cerr);
  }
  std::cerr << "tavero: unknown command \"" << command << "\"\n";
  printUsage(std::cerr);
  return kExitUsage;
}
