#include "app/DeviceCommandCatalogue.h"

#include "app/DeviceCommandSet.h"

namespace tavero::app {
namespace {

// Nothing runs on it: the registration only keeps it for later.
class NoMainThread : public base::MainThread {
 public:
  bool isMainThread() const override { return true; }
  void post(std::function<void()>) override {}
  void runFor(std::chrono::milliseconds) override {}
};

class NoNetwork : public platform::NetworkReachability {
 public:
  std::optional<uint32_t> currentFlags() override { return std::nullopt; }
  std::unique_ptr<platform::Subscription> startNotifier(std::function<void()>) override { return nullptr; }
};

class NoTimers : public base::MainLoopTimers {
 public:
  std::unique_ptr<base::Timer> schedule(std::chrono::milliseconds, bool, std::function<void()>) override {
    return nullptr;
  }
};

}  // namespace

struct DeviceCommandCatalogue::InertServices {
  NoMainThread mainThread;
  NoNetwork realNetwork;
  platform::SimulatedLocationService location;
  platform::SimulatedMotionService motion;
  platform::ForcedNetworkReachability network{realNetwork};
  platform::RecordedBadge badge;
  platform::RecordingURLOpener openedURLs;
  platform::RecordingVibrator vibrations;
  platform::GtkAlertPresenter alerts{nullptr};
  platform::SimulatedPushService push{mainThread, nullptr, platform::PushSettings{}};
  NoTimers timers;
  PageCommands pages{[](const std::string&) -> platform::WebView* { return nullptr; },
                     [](std::function<void(platform::Snapshot)>) {}, timers};
};

DeviceCommandCatalogue::DeviceCommandCatalogue()
    : services_(std::make_unique<InertServices>()),
      commands_(std::make_unique<control::ControlCommandRegistry>(nullptr)) {
  addDeviceCommands(*commands_, DeviceServices{.lifecycle = nullptr,
                                               .media = nullptr,
                                               .location = &services_->location,
                                               .motion = services_->motion,
                                               .network = services_->network,
                                               .badge = services_->badge,
                                               .openedURLs = services_->openedURLs,
                                               .vibrations = services_->vibrations,
                                               .alerts = services_->alerts,
                                               .push = services_->push,
                                               .pushRefusal = std::nullopt,
                                               .pushStatus = nullptr,
                                               .pages = services_->pages});
}

DeviceCommandCatalogue::~DeviceCommandCatalogue() {
  commands_.reset();
  services_.reset();
}

}  // namespace tavero::app
