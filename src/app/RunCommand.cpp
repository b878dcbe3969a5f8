#include "app/RunCommand.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <variant>

#include "app/BundlePath.h"
#include "app/ExitStatus.h"
#include "app/ServiceRoads.h"
#include "app/ShellApplication.h"
#include "base/FileRead.h"
#include "control/ControlClient.h"
#include "control/RunningShells.h"
#include "json/JsonCodec.h"
#include "log/Log.h"
#include "platform/linux/LinuxDeviceInfo.h"
#include "platform/linux/LoopbackListeners.h"
#include "platform/linux/PlistBundleReader.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/XvfbDisplay.h"
#include "platform/sim/DeviceProfile.h"
#include "platform/sim/MediaProfile.h"
#include "platform/sim/SensorProfile.h"
#include "platform/sim/SimulatedPushService.h"

namespace tavero::app {
namespace {

constexpr const char* kUsage =
    "usage: tavero run BUNDLE [URL [--from APP]] [--home DIR] [--device FILE]\n"
    "                  [--location simulated|system] [--camera simulated|system]\n"
    "                  [--contacts folder|system] [--push simulated|unifiedpush]\n"
    "                  [--notifications desktop|none] [--headless] [--screenshot FILE] [--port N]\n"
    "                  [--watch] [--dev-server URL] [--automation]\n";

constexpr const char* kOptionsHelp =
    "Runs the web application in BUNDLE, a folder with Info.plist and webapp/, in a window.\n"
    "With webapp/app.json the start page is webapp/<IndexPage> (default index.html); without it\n"
    "a generated page loads webapp/core.min.js and webapp/app.js.\n"
    "With URL the app is opened with that URL, as if another application APP opened it; when the\n"
    "app already runs with the same home, the URL goes to it.\n"
    "\n"
    "  --home DIR         where the app keeps its files (default $XDG_DATA_HOME/tavero/<bundle id>)\n"
    "  --device FILE      a JSON device profile: the simulated device's name, model, ...\n"
    "  --location WHERE   simulated (default): positions from the profile and `tavero device geo`;\n"
    "                     system: the machine's own position through GeoClue\n"
    "  --contacts WHERE   folder (default, or the profile's contacts.source): people from the\n"
    "                     vCard folder; system: from the desktop's address books (Evolution\n"
    "                     Data Server); without it on the session bus, access is denied\n"
    "  --camera WHICH     simulated (default, or the profile's camera.source): the profile's\n"
    "                     camera.picture or a test card; system: the machine's camera through\n"
    "                     GStreamer (PipeWire, else V4L2; the profile's camera.device picks one)\n"
    "  --push WHERE       simulated (default): tokens and notifications from the profile and\n"
    "                     `tavero device push`; unifiedpush: a UnifiedPush distributor on the session\n"
    "                     bus, whose endpoint (the URL the app server posts to) is the token\n"
    "  --notifications HOW  desktop (default, except with --headless): push notifications that\n"
    "                     arrive in the background and alerts shown while the window lacks the\n"
    "                     focus also appear on the desktop; none: they do not\n"
    "  --headless         run on a private X display (Xvfb): nothing appears on screen, and URLs\n"
    "                     pages open are only recorded (tavero device events opened-urls)\n"
    "  --screenshot FILE  write a PNG of the start page once it has loaded, then exit; a start\n"
    "                     page that cannot be loaded is a failure\n"
    "  --port N           the bridge's port on 127.0.0.1 (default 3000; 0 picks a free one). Meant\n"
    "                     for tests that run several apps at once: pages then reach the bridge\n"
    "                     on the port the page client is given, not on 3000\n"
    "  --automation       let a WebDriver server (WebKitWebDriver) drive the app's page, for tests;\n"
    "                     whoever reaches the server's port controls the app\n"
    "  --watch            reload the pages when a file in webapp/ (or a folder below) changes,\n"
    "                     with a log line naming the files; open transactions, watches and\n"
    "                     callbacks of the old pages end with them. For developing an app\n"
    "  --dev-server URL   load the start page from a development server (Vite and the like, with\n"
    "                     its hot module reload) instead of webapp/: http or https on 127.0.0.1,\n"
    "                     [::1] or localhost only. Documents of exactly that origin get the page\n"
    "                     client and the page token; frames of other origins do not\n"
    "  --help             print this text\n"
    "\n"
    "Ctrl-C, SIGTERM, SIGHUP or closing the window ends the app.\n"
    "\n";

// Gives the page a moment after its load to run its first scripts and paint.
constexpr auto kScreenshotSettleTime = std::chrono::milliseconds(1000);

std::optional<platform::DeviceInfo> deviceFor(const RunOptions& options) {
  platform::DeviceInfo device = platform::readLinuxDeviceInfo();
  if (!options.deviceProfile) return device;
  auto profiled = platform::loadDeviceProfile(std::move(device), *options.deviceProfile);
  if (auto* error = std::get_if<std::string>(&profiled)) {
    std::cerr << "tavero run: " << *error << "\n";
    return std::nullopt;
  }
  return std::get<platform::DeviceInfo>(std::move(profiled));
}

std::optional<platform::MediaProfile> mediaFor(const RunOptions& options) {
  platform::MediaProfile media;
  if (options.deviceProfile) {
    auto profiled = platform::loadMediaProfile(*options.deviceProfile);
    if (auto* error = std::get_if<std::string>(&profiled)) {
      std::cerr << "tavero run: " << *error << "\n";
      return std::nullopt;
    }
    media = std::get<platform::MediaProfile>(std::move(profiled));
  }
  if (options.systemContacts)
    media.contactsSource = *options.systemContacts ? platform::ContactsSource::system : platform::ContactsSource::folder;
  return media;
}

// The push settings of the device profile; a random token without one.
std::optional<platform::PushSettings> pushSettingsFor(const RunOptions& options) {
  std::optional<json::Object> profile;
  if (options.deviceProfile) {
    std::string text = base::readFileText(*options.deviceProfile).value_or("");
    profile = json::JsonCodec::dictionaryWithJSONString(text);  // deviceFor has checked that it reads
  }
  auto settings = platform::pushSettingsFromProfile(profile ? profile->find("push") : nullptr);
  if (auto* error = std::get_if<std::string>(&settings)) {
    std::cerr << "tavero run: device profile " << options.deviceProfile->string() << ": " << *error << "\n";
    return std::nullopt;
  }
  return std::get<platform::PushSettings>(std::move(settings));
}

// Which roads push and notifications take: the command line's choice over
// the device profile's ("push": {"source"}, "notifications").
std::optional<ServiceRoads> roadsFor(const RunOptions& options) {
  std::optional<json::Object> profile;
  if (options.deviceProfile) {
    profile = json::JsonCodec::dictionaryWithJSONString(base::readFileText(*options.deviceProfile).value_or(""));
  }
  auto roads = serviceRoadsFor(profile ? &*profile : nullptr,
                               {.unifiedPush = options.unifiedPush,
                                .desktopNotifications = options.desktopNotifications,
                                .headless = options.headless});
  if (auto* error = std::get_if<std::string>(&roads)) {
    std::cerr << "tavero run: device profile " << options.deviceProfile->string() << ": " << *error << "\n";
    return std::nullopt;
  }
  return std::get<ServiceRoads>(roads);
}

// Hands the URL to the shell already running with `home`; the exit status.
int handOverURL(const RunOptions& options, const std::filesystem::path& home) {
  std::vector<std::string> command = {"url", "open", *options.openURL};
  if (!options.sourceApplication.empty()) command.insert(command.end(), {"--from", options.sourceApplication});
  control::ControlAnswer answer = control::ControlClient::send(home / "control.sock", command);
  if (!answer.ok()) {
    std::cerr << "tavero run: the running app did not take the URL: " << answer.errorMessage() << "\n";
    return kExitFailure;
  }
  log::info("run: the app already runs; the URL went to it");
  return kExitSuccess;
}

}  // namespace

std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args) {
  RunOptions options;
  bool haveBundle = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    } else if (arg == "--home" && hasValue) {
      options.home = args[++i];
    } else if (arg == "--device" && hasValue) {
      options.deviceProfile = args[++i];
    } else if (arg == "--location" && hasValue) {
      const std::string& where = args[++i];
      if (where != "simulated" && where != "system") {
        std::cerr << "tavero run: --location is simulated or system, not \"" << where << "\"\n" << kUsage;
        return std::nullopt;
      }
      options.systemLocation = where == "system";
    } else if (arg == "--contacts" && hasValue) {
      const std::string& where = args[++i];
      if (where != "folder" && where != "system") {
        std::cerr << "tavero run: --contacts is folder or system, not \"" << where << "\"\n" << kUsage;
        return std::nullopt;
      }
      options.systemContacts = where == "system";
    } else if (arg == "--camera" && hasValue) {
      const std::string& which = args[++i];
      if (which != "simulated" && which != "system") {
        std::cerr << "tavero run: --camera is simulated or system, not \"" << which << "\"\n" << kUsage;
        return std::nullopt;
      }
      options.systemCamera = which == "system";
    } else if (arg == "--push" && hasValue) {
      options.unifiedPush = unifiedPushFromName(args[++i]);
      if (!options.unifiedPush) {
        std::cerr << "tavero run: --push is simulated or unifiedpush, not \"" << args[i] << "\"\n" << kUsage;
        return std::nullopt;
      }
    } else if (arg == "--notifications" && hasValue) {
      options.desktopNotifications = desktopNotificationsFromName(args[++i]);
      if (!options.desktopNotifications) {
        std::cerr << "tavero run: --notifications is desktop or none, not \"" << args[i] << "\"\n" << kUsage;
        return std::nullopt;
      }
    } else if (arg == "--screenshot" && hasValue) {
      options.screenshot = args[++i];
    } else if (arg == "--port" && hasValue) {
      char* end = nullptr;
      long port = std::strtol(args[++i].c_str(), &end, 10);
      if (*end != '\0' || args[i].empty() || port < 0 || port > 65535) {
        std::cerr << "tavero run: --port needs a number from 0 to 65535, not \"" << args[i] << "\"\n" << kUsage;
        return std::nullopt;
      }
      options.port = static_cast<uint16_t>(port);
    } else if (arg == "--dev-server" && hasValue) {
      auto server = developmentServerFromURL(args[++i]);
      if (auto* error = std::get_if<std::string>(&server)) {
        std::cerr << "tavero run: " << *error << "\n" << kUsage;
        return std::nullopt;
      }
      options.developmentServer = std::get<DevelopmentServer>(std::move(server));
    } else if (arg == "--watch") {
      options.watch = true;
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--automation") {
      options.automation = true;
    } else if (arg == "--from" && hasValue) {
      options.sourceApplication = args[++i];
    } else if (!arg.starts_with("--") && !haveBundle) {
      options.bundle = bundlePathFromArgument(arg);
      haveBundle = true;
    } else if (!arg.starts_with("--") && !options.openURL) {
      options.openURL = arg;
    } else {
      std::cerr << "tavero run: unexpected argument \"" << arg << "\"\n" << kUsage;
      return std::nullopt;
    }
  }
  if (!haveBundle) {
    std::cerr << "tavero run: which bundle?\n" << kUsage;
    return std::nullopt;
  }
  return options;
}

void printRunHelp(std::ostream& out) { out << kUsage << "\n" << kOptionsHelp << kExitStatusHelp; }

namespace {

using StartPageLoad = host::TQEngine::StartPageLoad;

bool stopRequested() { return platform::TerminationSignals::received() != 0; }

// Starts Xvfb and points GTK at it; an error message when it cannot.
std::optional<std::string> startPrivateDisplay(std::unique_ptr<platform::XvfbDisplay>& xvfb) {
  auto started = platform::XvfbDisplay::start();
  if (auto* error = std::get_if<std::string>(&started)) return "--headless: " + *error;
  xvfb = std::move(std::get<std::unique_ptr<platform::XvfbDisplay>>(started));
  // The display admits only holders of its cookie: GTK, and WebKit's
  // processes, which inherit the environment.
  xvfb->makeDefault();
  setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus on a private display
  setenv("GSETTINGS_BACKEND", "memory", 0);  // nor a session bus for dialogs' settings
  log::info("run: headless, on the private display " + xvfb->display() + " (Xvfb process " +
            std::to_string(xvfb->pid()) + ")");
  return std::nullopt;
}

void logLaunch(StartPageLoad load, std::chrono::steady_clock::time_point started, bool screenshot) {
  if (load == StartPageLoad::Loaded) {
    auto elapsed = std::chrono::steady_clock::now() - started;
    log::info("run: the start page loaded " +
              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
              " ms after start");
  } else if (load == StartPageLoad::Failed && !screenshot) {
    log::error("run: the window shows the error page; the app keeps running without its start page");
  }
}

}  // namespace

int runApplication(const RunOptions& options) {
  // First of all: from here on Ctrl-C, SIGTERM and SIGHUP stop the shell in order,
  // however early they come.
  platform::TerminationSignals::install();
  // What the app keeps is its user's alone: files made from here on, by the
  // shell and by WebKit's processes (which inherit the mask), are 0600 and
  // folders 0700.
  ::umask(077);
  const auto started = std::chrono::steady_clock::now();
  // The bundle and the device profile are checked next: a mistake in
  // either is reported before anything is started or created.
  auto bundle = platform::readBundle(options.bundle);
  if (auto* error = std::get_if<std::string>(&bundle)) {
    std::cerr << "tavero run: " << *error << "\n";
    return kExitUsage;
  }
  auto device = deviceFor(options);
  if (!device) return kExitUsage;
  platform::SensorProfile sensors;
  if (options.deviceProfile) {
    auto profiled = platform::loadSensorProfile(*options.deviceProfile);
    if (auto* error = std::get_if<std::string>(&profiled)) {
      std::cerr << "tavero run: " << *error << "\n";
      return kExitUsage;
    }
    sensors = std::get<platform::SensorProfile>(std::move(profiled));
  }
  auto media = mediaFor(options);
  if (!media) return 2;
  auto push = pushSettingsFor(options);
  if (!push) return 2;
  auto roads = roadsFor(options);
  if (!roads) return 2;

  // The server's pages get the page token: it must be this user's own.
  if (options.developmentServer) {
    if (auto refusal = platform::refusalOfLoopbackServer(options.developmentServer->port)) {
      std::cerr << "tavero run: --dev-server " << options.developmentServer->url << ": " << *refusal << "\n";
      return kExitFailure;
    }
  }

  const platform::HomeFolders home =
      platform::homeFoldersFor(std::get<platform::BundleInfo>(bundle).bundleIdentifier, options.home);
  // Two shells on one home would overwrite each other's local storage
  // backup and databases.
  if (std::holds_alternative<control::ControlClient>(control::ControlClient::connect(home.home / "control.sock"))) {
    if (options.openURL) return handOverURL(options, home.home);
    std::cerr << "tavero run: the app is already running with the home " << home.home.string()
              << " (\"tavero device --home " << home.home.string() << " app terminate\" ends it)\n";
    return kExitFailure;
  }

  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (options.headless && !stopRequested()) {
    if (auto error = startPrivateDisplay(xvfb)) {
      std::cerr << "tavero run: " << *error << "\n";
      return kExitFailure;
    }
  }
  if (stopRequested()) return kExitSuccess;
  if (auto error = platform::initializeGtk()) {
    std::cerr << "tavero run: " << *error << "\n";
    return kExitFailure;
  }

  ShellApplication::Settings settings;
  settings.bundle = std::get<platform::BundleInfo>(std::move(bundle));
  settings.device = std::move(*device);
  settings.sensors = std::move(sensors);
  settings.media = std::move(*media);
  if (options.systemCamera) settings.media.systemCamera = *options.systemCamera;
  settings.systemLocation = options.systemLocation;
  settings.port = options.port;
  settings.automation = options.automation;
  settings.watchWebapp = options.watch;
  settings.developmentServer = options.developmentServer;
  settings.home = home;
  if (auto error = platform::createHomeFolders(settings.home)) {
    std::cerr << "tavero run: " << *error << "\n";
    return kExitFailure;
  }

  const std::string homeText = settings.home.home.string();
  bool stopping = false;
  std::unique_ptr<ShellApplication> shell;
  auto stop = [&] {
    if (stopping) return;
    stopping = true;
    shell->engine().abandonLaunchWait();
    shell->mainThread().quit();
  };
  settings.onWindowClosed = stop;
  settings.runningShellsFolder = control::RunningShells::defaultFolder();
  settings.openURLsOnDesktop = !options.headless;
  settings.push = std::move(*push);
  settings.unifiedPush = roads->unifiedPush;
  settings.desktopNotifications = roads->desktopNotifications;
  log::info("run: " + describeRoads(*roads));
  shell = std::make_unique<ShellApplication>(std::move(settings));
  // Also handles a signal that came before this line.
  shell->mainThread().onTerminationSignal([&](int signal) {
    const char* name = sigabbrev_np(signal);
    log::info(std::string("run: stopping on SIG") + (name ? name : "?"));
    stop();
  });
  log::info("run: " + options.bundle.string() + " (home " + homeText + ")");

  shell->launch();
  if (options.openURL && !stopping) shell->delegate().openURL(*options.openURL, options.sourceApplication);
  StartPageLoad load = shell->engine().startPageLoad();
  logLaunch(load, started, options.screenshot.has_value());
  int status = kExitSuccess;
  bool screenshotWritten = false;
  if (options.screenshot && !stopping) {
    if (load == StartPageLoad::Failed) {
      log::error("run: no screenshot: the start page could not be loaded");
      status = kExitFailure;
      stop();
    } else {
      if (load == StartPageLoad::TimedOut) log::warning("run: taking the screenshot of a page that has not finished loading");
      shell->mainThread().runFor(kScreenshotSettleTime);
      if (!stopping) {
        shell->webViewHost().snapshotContent(*options.screenshot, [&](bool ok) {
          if (ok) log::info("run: screenshot written to " + options.screenshot->string());
          screenshotWritten = ok;
          status = ok ? kExitSuccess : kExitFailure;
          stop();
        });
      }
    }
  }
  if (!stopping) shell->mainThread().run();
  if (options.screenshot && status == kExitSuccess && !screenshotWritten) {
    log::error("run: stopped before the screenshot was taken");
    status = kExitFailure;
  }
  shell->terminate();  // saves the local storage
  shell.reset();
  return status;
}

}  // namespace tavero::app
