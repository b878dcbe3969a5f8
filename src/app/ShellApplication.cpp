#include "app/ShellApplication.h"

#include <unistd.h>

#include "app/DeviceCommandSet.h"
#include "control/RunningShells.h"

#include "bridge/PageToken.h"
#include "host/DeviceIdentity.h"
#include "host/PageClient.h"
#include "log/Log.h"
#include "modules/ModuleCatalog.h"
#include "modules/TQOpenURL.h"
#include "platform/linux/DesktopURLOpener.h"
#include "platform/linux/FreedesktopNotifier.h"
#include "platform/linux/GeoClueLocationService.h"
#include "platform/linux/ProcessPeerVerifier.h"

namespace tavero::app {
namespace {

constexpr const char* kSimulatedPushRefusal =
    "push comes from the UnifiedPush distributor in this run (tavero run --push unifiedpush): "
    "send the message to the app's endpoint instead";

}  // namespace

ShellApplication::ShellApplication(Settings settings)
    : settings_(std::move(settings)), hardware_(settings_.device), pageToken_(bridge::makePageToken()) {
  controlCommands_ = std::make_unique<control::ControlCommandRegistry>(&mainThread_);
  webViewHost_ = std::make_unique<platform::WebKitWebViewHost>(platform::WebKitWebViewHost::Options{
      .dataDirectory = settings_.home.webData(),
      .cacheDirectory = settings_.home.caches() / "WebKit",
      .cookieFile = settings_.home.webData() / "cookies.sqlite",
      .downloadsFolder = settings_.downloadsFolder,
      .windowTitle = settings_.bundle.displayName,
      .onWindowClosed = settings_.onWindowClosed,
      .onWindowHiddenChanged =
          [this](bool hidden) {
            if (!lifecycle_) return;
            if (hidden)
              lifecycle_->enterBackground();
            else
              lifecycle_->enterForeground();
          },
      .automation = settings_.automation,
      .automationVersion = TAVERO_VERSION,
  });
  views_ = std::make_unique<host::TQViewManager>(*webViewHost_, settings_.bundle.webappPath(),
                                                 [this] { return pageDeviceInformation(); });
  // A page's transactions, watches... end with its document.
  views_->setDocumentEndedObserver([this](const std::string& page) { modules_.pageDocumentEnded(page); });
  engine_ = std::make_unique<host::TQEngine>(mainThread_, *webViewHost_, *views_, settings_.bundle);
  makeDeviceServices();

  platform::applySensorProfile(settings_.sensors, location_, motion_, network_);
  if (settings_.systemLocation) {
    systemLocation_ = std::make_unique<platform::GeoClueLocationService>(mainThread_, settings_.bundle.bundleIdentifier);
    log::info("location: positions come from GeoClue, the machine's location service");
  }
  platform::LocationService& location = systemLocation_ ? *systemLocation_ : location_;
  media_ = std::make_unique<MediaPlatform>(settings_.media, settings_.home, settings_.bundle.bundleIdentifier, true);
  modules::registerModules(
      modules_, {.callbacks = *engine_,
                 .home = settings_.home,
                 .sensors = {mainThread_, timers_, location, motion_, network_},
                 .media = media_->services(&mainThread_),
                 .mainThread = &mainThread_,
                 .urlOpener = desktopURLOpener_ ? desktopURLOpener_.get()
                                                : static_cast<platform::URLOpener*>(&openedURLs_),
                 .push = &pushService(),
                 .alerts = notificationRelay_ ? static_cast<platform::AlertPresenter*>(notificationRelay_.get())
                                              : alerts_.get(),
                 .vibrator = vibrator_.get(),
                 .updateApplicationScheme = [this] { views_->updateApplicationScheme(); }});
  if (settings_.extraModules) settings_.extraModules(modules_, *engine_);

  bridge_ = std::make_unique<bridge::QLTaveroBridge>(
      modules_, bridge::QLTaveroBridge::Options{
                    .port = settings_.port,
                    .otherPortWhenTaken = true,
                    .keepPortWhileStopped = true,
                    .policy = bridge::BridgeAccessPolicy(
                        bridge::BridgeAccessPolicy::Clients::appPages, pageToken_,
                        settings_.allowPlainBridgeRequests || settings_.bundle.allowsPlainBridgeRequests,
                        settings_.developmentServer ? settings_.developmentServer->origin : std::string()),
                    .peerVerifier = settings_.onlyShellClients ? std::make_shared<platform::ProcessPeerVerifier>()
                                                               : nullptr,
                });
  openPageChannel();
  engine_->setBridge(bridge_.get());
  if (settings_.developmentServer) engine_->setDevelopmentServer(settings_.developmentServer->url);
  delegate_ = std::make_unique<host::TQAppDelegate>(mainThread_, timers_, *webViewHost_, *engine_, bridge_.get(),
                                                    settings_.home, appEvents_, &badge_);
  platform::PushServiceDelegate* pushDelegate = delegate_.get();
  if (notificationRelay_) {
    notificationRelay_->setPushDelegate(delegate_.get());
    pushDelegate = notificationRelay_.get();
  }
  pushService().setDelegate(pushDelegate);
  lifecycle_ = std::make_unique<ApplicationLifecycle>(*delegate_, settings_.onWindowClosed);
  makePageCommands();
  addDeviceCommands(*controlCommands_, DeviceServices{.lifecycle = lifecycle_.get(),
                                                     .media = media_.get(),
                                                     .location = systemLocation_ ? nullptr : &location_,
                                                     .motion = motion_,
                                                     .network = network_,
                                                     .badge = badge_,
                                                     .openedURLs = openedURLs_,
                                                     .vibrations = vibrations_,
                                                     .alerts = *alerts_,
                                                     .push = *push_,
                                                     .pushRefusal = unifiedPush_ ? std::optional<std::string>(
                                                                                      kSimulatedPushRefusal)
                                                                                : std::nullopt,
                                                     .pushStatus = [this] { return pushStatus(); },
                                                     .pages = *pageCommands_});
}

void ShellApplication::startLiveReload() {
  liveReload_ = std::make_unique<host::LiveReload>(timers_, [this] { engine_->reloadPages(); });
  webappWatcher_ = std::make_unique<platform::GioFileWatcher>();
  bundleWatcher_ = std::make_unique<platform::GioFileWatcher>();
  if (auto error = liveReload_->start(settings_.bundle.path, *webappWatcher_, *bundleWatcher_))
    log::error("watch: " + *error + "; the pages do not reload by themselves");
}

void ShellApplication::makePageCommands() {
  pageCommands_ = std::make_unique<PageCommands>(
      [this](const std::string& name) -> platform::WebView* {
        host::TQWebView* view = name.empty() ? engine_->webEngineView() : views_->viewForPageName(name);
        return view ? &view->platformView() : nullptr;
      },
      [this](std::function<void(platform::Snapshot)> done) { webViewHost_->snapshotWindow(std::move(done)); },
      timers_);
}

// The bundle's documents get the page token, the bridge's port and the page
// client; their calls come in on the page channel and go to the bridge.
void ShellApplication::openPageChannel() {
  webViewHost_->setBundleDocuments(host::bundleDocumentsFor(
      settings_.bundle, settings_.home,
      {.pageToken = pageToken_,
       .bridgePort = bridge_->port(),
       .wantedPort = settings_.port,
       .developmentOrigin = settings_.developmentServer ? settings_.developmentServer->origin : std::string()}));
  webViewHost_->setPageMessageHandler([this, channel = bridge_->pageChannel()](
                                          const std::string& viewLabel, std::string message,
                                          std::unique_ptr<platform::PageMessageReply> reply) {
    // WebKit's reply may only be answered and released on the main thread,
    // whichever thread the channel answers on or drops its answer on.
    auto shared = mainThread_.shareDestroyedOnMain(std::move(reply));
    channel->receive(viewLabel, message, [this, shared](std::optional<std::string> answer, std::string rejection) {
      auto deliver = [shared, answer = std::move(answer), rejection = std::move(rejection)] {
        if (answer)
          shared->resolve(*answer);
        else
          shared->reject(rejection);
      };
      if (mainThread_.isMainThread())
        deliver();
      else
        mainThread_.post(std::move(deliver));
    });
  });
  nativeCalls_ = NativeCallRoad::open(
      *bridge_, *webViewHost_,
      {.pageToken = pageToken_,
       .runtimeFolder = settings_.runningShellsFolder.value_or(control::RunningShells::defaultFolder()),
       .onlyShellProcesses = settings_.onlyShellClients});
}

void ShellApplication::makeDeviceServices() {
  if (settings_.openURLsOnDesktop)
    desktopURLOpener_ = std::make_unique<platform::DesktopURLOpener>(mainThread_, openedURLs_);
  vibrator_ = std::make_unique<platform::WindowCueVibrator>(mainThread_, vibrations_, webViewHost_->window());
  alerts_ = std::make_unique<platform::GtkAlertPresenter>(webViewHost_->window());
  platform::PushSettings push;
  if (settings_.push) {
    push = *settings_.push;
  } else {
    push = std::get<platform::PushSettings>(platform::pushSettingsFromProfile(nullptr));
  }
  push_ = std::make_unique<platform::SimulatedPushService>(mainThread_, &badge_, std::move(push));
  if (settings_.unifiedPush) {
    unifiedPush_ = std::make_unique<platform::UnifiedPushService>(
        mainThread_, platform::UnifiedPushService::Options{
                         .bundleIdentifier = settings_.bundle.bundleIdentifier,
                         .displayName = settings_.bundle.displayName,
                         .tokenFile = settings_.home.applicationSupport() / "unifiedpush-token",
                         .badge = &badge_});
  }
  if (settings_.desktopNotifications) makeDesktopNotifications();
}

void ShellApplication::makeDesktopNotifications() {
  notifier_ = std::make_unique<platform::FreedesktopNotifier>(settings_.bundle.displayName);
  notificationRelay_ = std::make_unique<DesktopNotificationRelay>(
      *notifier_, *alerts_, settings_.bundle.displayName,
      DesktopNotificationRelay::Shell{
          .inBackground = [this] { return lifecycle_ && lifecycle_->state() == ApplicationLifecycle::State::Background; },
          .windowFocused = [this] { return webViewHost_->windowIsFocused(); },
          .bringToFront =
              [this] {
                webViewHost_->presentWindow();
                // Presenting a minimised window resumes the app through
                // the window's state; one sent to the background by a
                // command is resumed here.
                if (lifecycle_) lifecycle_->enterForeground();
              },
      });
}

json::Object ShellApplication::pushStatus() {
  if (unifiedPush_) return unifiedPush_->status();
  json::Object status;
  status.set("source", "simulated");
  status.set("registered", push_->registeredTypes().has_value());
  status.set("token", delegate_ && delegate_->token() ? json::Value(*delegate_->token()) : json::Value());
  return status;
}

platform::PushService& ShellApplication::pushService() {
  return unifiedPush_ ? static_cast<platform::PushService&>(*unifiedPush_) : *push_;
}

void ShellApplication::startControlInterface() {
  if (settings_.controlSocket) {
    auto server = control::ControlServer::start(settings_.home.home / "control.sock", *controlCommands_);
    if (auto* error = std::get_if<std::string>(&server)) {
      log::error("control: " + *error + "; `tavero device` cannot reach this app");
    } else {
      controlServer_ = std::move(std::get<std::unique_ptr<control::ControlServer>>(server));
    }
  }
  if (settings_.runningShellsFolder) {
    control::RunningShell entry{.pid = ::getpid(),
                                .bundleIdentifier = settings_.bundle.bundleIdentifier,
                                .displayName = settings_.bundle.displayName,
                                .bundle = settings_.bundle.path,
                                .home = settings_.home.home,
                                .urlSchemes = settings_.bundle.urlSchemes};
    if (auto error = control::RunningShells(*settings_.runningShellsFolder).add(entry))
      log::warning("control: " + *error + "; `tavero device` needs --home to find this app");
    else
      listedAsRunning_ = true;
  }
}

ShellApplication::~ShellApplication() {
  // The control interface goes first: commands reach every part below, and
  // main-thread commands still queued must find the registry gone.
  if (listedAsRunning_) control::RunningShells(*settings_.runningShellsFolder).remove(::getpid());
  controlServer_.reset();
  controlCommands_.reset();
  // No reload may start while the parts below are taken down.
  webappWatcher_.reset();
  bundleWatcher_.reset();
  liveReload_.reset();
  pushService().setDelegate(nullptr);
  if (notificationRelay_) notificationRelay_->setPushDelegate(nullptr);
  lifecycle_.reset();
  // The bridge goes first: no request may reach a module or the engine
  // while they are being taken down.
  webViewHost_->setPageMessageHandler({});
  nativeCalls_.reset();
  delegate_.reset();
  bridge_.reset();
  // The store reports on a thread of its own; none may reach a module
  // after the engine it answers through is gone.
  media_->store().setObserver(nullptr);
  webViewHost_->setContentView(nullptr);
}

host::PageDeviceInformation ShellApplication::pageDeviceInformation() {
  return host::PageDeviceInformation{
      .platformName = hardware_.platformString(),
      .name = settings_.device.name,
      .uuid = host::uniqueGlobalDeviceIdentifier(settings_.device),
      .scheme = modules_.sharedInstance<modules::TQOpenURL>().scheme(),
  };
}

bool ShellApplication::launch() {
  // The control socket, the running-app entry (written and synced to disk)
  // and the webapp/ watches are made while the start page loads: the page
  // needs none of them, and `tavero device` reaches the app as before,
  // from the time the launch waits for the page.
  return delegate_->didFinishLaunching([this] {
    startControlInterface();
    if (settings_.watchWebapp) startLiveReload();
  });
}

void ShellApplication::terminate() { delegate_->willTerminate(); }

}  // namespace tavero::app
