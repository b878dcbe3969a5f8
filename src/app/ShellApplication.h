// Everything a running web application needs, wired together: the main
// thread, the window and its web views, the bridge with every module, the
// engine and the application delegate.
//
// Thread rules: create, launch and terminate on the main thread (the thread
// that initialised GTK).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/ApplicationLifecycle.h"
#include "app/DesktopNotificationRelay.h"
#include "app/DevelopmentServer.h"
#include "app/MediaPlatform.h"
#include "app/NativeCallRoad.h"
#include "app/PageCommands.h"
#include "bridge/CallbackDelivery.h"
#include "bridge/ModuleRegistry.h"
#include "bridge/QLTaveroBridge.h"
#include "control/ControlCommandRegistry.h"
#include "control/ControlServer.h"
#include "host/QLDeviceHardware.h"
#include "host/TQAppDelegate.h"
#include "host/TQEngine.h"
#include "host/LiveReload.h"
#include "host/TQViewManager.h"
#include "modules/ModuleAppEvents.h"
#include "platform/Bundle.h"
#include "platform/DesktopNotifier.h"
#include "platform/DeviceInfo.h"
#include "platform/HomeFolders.h"
#include "platform/linux/GLibMainLoopTimers.h"
#include "platform/linux/GLibMainThread.h"
#include "platform/linux/GioFileWatcher.h"
#include "platform/linux/GtkAlertPresenter.h"
#include "platform/linux/NetlinkReachability.h"
#include "platform/linux/UnifiedPushService.h"
#include "platform/linux/WebKitWebViewHost.h"
#include "platform/linux/WindowCueVibrator.h"
#include "platform/sim/ForcedNetworkReachability.h"
#include "platform/sim/RecordedBadge.h"
#include "platform/sim/RecordingURLOpener.h"
#include "platform/sim/RecordingVibrator.h"
#include "platform/sim/SensorProfile.h"
#include "platform/sim/SimulatedLocationService.h"
#include "platform/sim/SimulatedMotionService.h"
#include "platform/sim/SimulatedPushService.h"

namespace tavero::app {

class ShellApplication {
 public:
  struct Settings {
    platform::BundleInfo bundle;
    platform::HomeFolders home;
    platform::DeviceInfo device;
    // The simulated position and motion sensors and the network status to
    // start with (from the device profile).
    platform::SensorProfile sensors;
    // The machine's own position through GeoClue instead of the simulated one.
    bool systemLocation = false;
    platform::MediaProfile media;  // camera, contacts, store, idiom
    // The bridge's port: pages expect 3000. When another program holds it,
    // the bridge listens on a free port, and the page client follows.
    uint16_t port = bridge::QLTaveroBridge::kDefaultPort;
    // Only the shell's own web views may use the bridge (on by default).
    bool onlyShellClients = true;
    // Bridge requests without the page token are served too (pages written
    // for the plain protocol; off by default: framed web content could
    // then call the bridge).
    bool allowPlainBridgeRequests = false;
    // Adds modules beyond the catalog (tests use it).
    std::function<void(bridge::ModuleRegistry&, bridge::CallbackDelivery&)> extraModules;
    // The user asked the app to end (closed its window, or `tavero device
    // app terminate`).
    std::function<void()> onWindowClosed;
    // Listen for control commands on <home>/control.sock (on by default).
    bool controlSocket = true;
    // Where running shells are listed for `tavero device` and `tavero
    // open-url` (control::RunningShells); not listed when absent.
    std::optional<std::filesystem::path> runningShellsFolder;
    // URLs pages open go to the desktop's default handlers (true), or are
    // only recorded (headless runs and tests: nothing appears on screen).
    bool openURLsOnDesktop = false;
    // Where downloads the bundle allows are saved (empty: the user's
    // Downloads folder).
    std::filesystem::path downloadsFolder;
    // A WebDriver server may drive the app's page (tavero run --automation).
    bool automation = false;
    // Reload the pages when files of webapp/ change (--watch).
    bool watchWebapp = false;
    // Load the start page from this development server (--dev-server).
    std::optional<DevelopmentServer> developmentServer;
    // What registering for push notifications gives (absent: a random token).
    std::optional<platform::PushSettings> push;
    // Push comes from a UnifiedPush distributor on the session bus instead
    // of the simulated device (whose push commands then refuse).
    bool unifiedPush = false;
    // Push notifications that arrive in the background and alerts shown
    // while the window lacks the focus also appear on the desktop
    // (org.freedesktop.Notifications); off by default, as tests want.
    bool desktopNotifications = false;
  };

  // REQUIRES: GTK initialised on this thread.
  explicit ShellApplication(Settings settings);
  ~ShellApplication();

  // The launch sequence; true when the start page loaded in time.
  bool launch();
  // What the platform's termination does: backs up the local storage.
  void terminate();

  platform::GLibMainThread& mainThread() { return mainThread_; }
  platform::WebKitWebViewHost& webViewHost() { return *webViewHost_; }
  host::TQEngine& engine() { return *engine_; }
  host::TQAppDelegate& delegate() { return *delegate_; }
  bridge::QLTaveroBridge& bridge() { return *bridge_; }
  bridge::ModuleRegistry& modules() { return modules_; }
  control::ControlCommandRegistry& controlCommands() { return *controlCommands_; }
  ApplicationLifecycle& lifecycle() { return *lifecycle_; }
  platform::RecordedBadge& badge() { return badge_; }
  platform::RecordingURLOpener& openedURLs() { return openedURLs_; }
  platform::RecordingVibrator& vibrations() { return vibrations_; }
  platform::GtkAlertPresenter& alerts() { return *alerts_; }
  platform::SimulatedPushService& push() { return *push_; }
  // The push service the pages use: the distributor's or the simulated one.
  platform::PushService& pushService();
  // What `tavero device push status` answers.
  json::Object pushStatus();
  // The simulated device's sensors and the network status, for the control
  // interface and tests.
  platform::SimulatedLocationService& location() { return location_; }
  platform::SimulatedMotionService& motion() { return motion_; }
  platform::ForcedNetworkReachability& network() { return network_; }
  MediaPlatform& media() { return *media_; }

 private:
  host::PageDeviceInformation pageDeviceInformation();
  void makeDeviceServices();
  void makeDesktopNotifications();
  void startControlInterface();
  void openPageChannel();
  void makePageCommands();
  void startLiveReload();

  Settings settings_;
  platform::GLibMainThread mainThread_;
  // Made first and taken down first: commands reach every part below, and
  // services add theirs as they are made.
  std::unique_ptr<control::ControlCommandRegistry> controlCommands_;
  std::unique_ptr<control::ControlServer> controlServer_;
  std::unique_ptr<platform::WebKitWebViewHost> webViewHost_;
  host::QLDeviceHardware hardware_;
  platform::GLibMainLoopTimers timers_;
  platform::SimulatedLocationService location_;
  std::unique_ptr<platform::LocationService> systemLocation_;  // with Settings::systemLocation
  platform::SimulatedMotionService motion_;
  platform::NetlinkReachability realNetwork_;
  platform::ForcedNetworkReachability network_{realNetwork_};
  std::unique_ptr<MediaPlatform> media_;  // before modules_: modules use it until they go
  const std::string pageToken_;  // the secret of this run, for the app's own documents
  // The device's services; modules use them, so they outlive the modules'
  // last operation (the bridge is taken down first).
  platform::RecordedBadge badge_;
  platform::RecordingURLOpener openedURLs_;
  std::unique_ptr<platform::URLOpener> desktopURLOpener_;  // null: URLs are only recorded
  platform::RecordingVibrator vibrations_;
  std::unique_ptr<platform::WindowCueVibrator> vibrator_;
  std::unique_ptr<platform::GtkAlertPresenter> alerts_;  // before the window goes
  std::unique_ptr<platform::SimulatedPushService> push_;  // made always: its commands are listed
  std::unique_ptr<platform::UnifiedPushService> unifiedPush_;  // with Settings::unifiedPush
  std::unique_ptr<platform::DesktopNotifier> notifier_;        // with Settings::desktopNotifications
  std::unique_ptr<DesktopNotificationRelay> notificationRelay_;  // the same; goes before the notifier
  std::unique_ptr<host::TQViewManager> views_;
  std::unique_ptr<host::TQEngine> engine_;
  // After the engine and the services, so that modules (and the sensor
  // streams and timers they run) end before what they deliver through.
  bridge::ModuleRegistry modules_;
  std::unique_ptr<bridge::QLTaveroBridge> bridge_;
  // Page calls through the web process extension (null: off); it serves on
  // the bridge's worker thread, so it goes before the bridge.
  std::unique_ptr<NativeCallRoad> nativeCalls_;
  modules::ModuleAppEvents appEvents_{modules_};
  std::unique_ptr<host::TQAppDelegate> delegate_;
  // With Settings::watchWebapp; the watchers go before the reloader they report to.
  std::unique_ptr<host::LiveReload> liveReload_;
  std::unique_ptr<platform::GioFileWatcher> webappWatcher_;
  std::unique_ptr<platform::GioFileWatcher> bundleWatcher_;
  std::unique_ptr<ApplicationLifecycle> lifecycle_;
  std::unique_ptr<PageCommands> pageCommands_;  // `page eval`, `page wait`, `screenshot`
  bool listedAsRunning_ = false;
};

}  // namespace tavero::app
