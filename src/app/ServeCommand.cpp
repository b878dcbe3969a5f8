#include "app/ServeCommand.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <system_error>

#include "app/ExitStatus.h"
#include "app/MediaPlatform.h"
#include "bridge/ModuleRegistry.h"
#include "bridge/QLTaveroBridge.h"
#include "host/ScriptCallbackDelivery.h"
#include "json/JsonCodec.h"
#include "log/Log.h"
#include "modules/ModuleCatalog.h"
#include "platform/linux/GLibMainLoopTimers.h"
#include "platform/linux/GLibMainThread.h"
#include "platform/linux/NetlinkReachability.h"
#include "platform/linux/SameUserPeerVerifier.h"
#include "platform/sim/ForcedNetworkReachability.h"
#include "platform/sim/SimulatedLocationService.h"
#include "platform/sim/SimulatedMotionService.h"

namespace tavero::app {
namespace {

std::filesystem::path defaultHome() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::filesystem::path base = dataHome && *dataHome ? dataHome
                               : home && *home        ? std::filesystem::path(home) / ".local/share"
                                                      : std::filesystem::path(".");
  return base / "tavero" / "serve";
}

// The lock keeps lines whole when several threads deliver at once.
void writeScriptLine(const std::string& page, const std::string& script) {
  static std::mutex stdoutMutex;
  std::string text = scriptLine(page, script);
  std::lock_guard lock(stdoutMutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

constexpr const char* kUsage = "usage: tavero serve [--port N] [--home DIR]\n";

}  // namespace

void printServeHelp(std::ostream& out) {
  out << kUsage
      << "\n"
         "Runs the bridge with every module and no web view, for trying modules with an HTTP client.\n"
         "It serves local programs (curl, test scripts) that send the header X-Tavero-Client (any\n"
         "value) and run as the same user, and no browser page; other users' programs are refused.\n"
         "Callback scripts that would go to a page are printed on standard output, one JSON line\n"
         "each; the log goes to standard error. SIGINT or SIGTERM stops it.\n"
         "\n"
         "  curl -H 'X-Tavero-Client: curl' 'http://127.0.0.1:3000/?command=Contact%23find&sync=true'\n"
         "\n"
         "  --port N    the port to listen on, on 127.0.0.1 (default 3000; 0 picks a free one)\n"
         "  --home DIR  where modules keep their files (default $XDG_DATA_HOME/tavero/serve)\n"
         "  --help      print this text\n"
         "\n"
      << kExitStatusHelp;
}

std::string scriptLine(const std::string& page, const std::string& script) {
  json::Object line;
  line.append("page", page);
  line.append("script", script);
  return json::JsonCodec::jsonStringValueWithIndentLevel(line, json::JsonCodec::jsonDoNotIndent);
}

std::optional<ServeOptions> parseServeOptions(const std::vector<std::string>& args) {
  ServeOptions options;
  options.home = defaultHome();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    } else if (arg == "--port" && hasValue) {
      char* end = nullptr;
      long port = std::strtol(args[++i].c_str(), &end, 10);
      if (*end != '\0' || args[i].empty() || port < 0 || port > 65535) {
        std::cerr << "tavero serve: --port needs a number from 0 to 65535, not \"" << args[i] << "\"\n";
        return std::nullopt;
      }
      options.port = static_cast<uint16_t>(port);
    } else if (arg == "--home" && hasValue) {
      options.home = args[++i];
    } else {
      std::cerr << "tavero serve: unexpected argument \"" << arg << "\"\n" << kUsage;
      return std::nullopt;
    }
  }
  return options;
}

int runServe(const ServeOptions& options) {
  ::umask(077);  // the modules' files are the user's alone (see runApplication)
  platform::HomeFolders home{options.home};
  if (auto error = platform::createHomeFolders(home)) {
    log::error("serve: " + *error);
    return kExitFailure;
  }

  // The main loop runs watch timers and network reports; the sensors are
  // the simulated device's defaults.
  platform::GLibMainThread mainThread;
  platform::GLibMainLoopTimers timers;
  platform::SimulatedLocationService location;
  platform::SimulatedMotionService motion;
  platform::NetlinkReachability realNetwork;
  platform::ForcedNetworkReachability network(realNetwork);
  // Installed before the bridge listens: a signal that comes as soon as the
  // port is announced must already find its handler.
  mainThread.onTerminationSignal([&](int) {
    log::info("serve: stopping on a termination signal");
    mainThread.quit();
  });
  host::ScriptCallbackDelivery callbacks(writeScriptLine);
  bridge::ModuleRegistry registry;
  // No window: the camera shoots the simulated camera's test card at once.
  MediaPlatform media(platform::MediaProfile{}, home, "serve", false);
  modules::registerModules(registry, {callbacks, home,
                                      {mainThread, timers, location, motion, network},
                                      media.services(&mainThread)});
  // Other users' programs can reach the port too; they are refused.
  bridge::QLTaveroBridge bridge(registry, {.port = options.port,
                                           .peerVerifier = std::make_shared<platform::SameUserPeerVerifier>()});
  if (!bridge.worker().performAndWait([&] { return bridge.isListening(); })) return kExitFailure;

  log::info("serve: bridge listening on 127.0.0.1:" + std::to_string(bridge.port()) +
            " (home " + options.home.string() + ")");
  log::info("serve: there is no web view: the bridge serves local programs that send the header "
            "X-Tavero-Client, and no browser page; callback scripts are printed on standard output");

  mainThread.run();
  return kExitSuccess;
}

}  // namespace tavero::app
