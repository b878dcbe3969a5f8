#include "app/ShellApplication.h"

#include "host/DeviceIdentity.h"
#include "log/Log.h"
#include "modules/ModuleCatalog.h"
#include "modules/TQOpenURL.h"
#include "platform/linux/ProcessPeerVerifier.h"

namespace tavero::app {

ShellApplication::ShellApplication(Settings settings)
    : settings_(std::move(settings)), hardware_(settings_.device) {
  webViewHost_ = std::make_unique<platform::WebKitWebViewHost>(platform::WebKitWebViewHost::Options{
      .dataDirectory = settings_.home.webData(),
      .cacheDirectory = settings_.home.caches() / "WebKit",
      .windowTitle = settings_.bundle.displayName,
      .onWindowClosed = settings_.onWindowClosed,
  });
  views_ = std::make_unique<host::TQViewManager>(*webViewHost_, settings_.bundle.webappPath(),
                                                 [this] { return pageDeviceInformation(); });
  engine_ = std::make_unique<host::TQEngine>(mainThread_, *webViewHost_, *views_, settings_.bundle);

  modules::registerModules(modules_, {*engine_, settings_.home});
  if (settings_.extraModules) settings_.extraModules(modules_, *engine_);

  bridge_ = std::make_unique<bridge::QLTaveroBridge>(modules_, settings_.port);
  if (settings_.onlyShellClients) bridge_->setPeerVerifier(std::make_unique<platform::ProcessPeerVerifier>());
  engine_->setBridge(bridge_.get());
  delegate_ = std::make_unique<host::TQAppDelegate>(mainThread_, *webViewHost_, *engine_, bridge_.get(), settings_.home, appEvents_);
}

ShellApplication::~ShellApplication() {
  // The bridge goes first: no request may reach a module or the engine
  // while they are being taken down.
  delegate_.reset();
  bridge_.reset();
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

bool ShellApplication::launch() { return delegate_->didFinishLaunching(); }

void ShellApplication::terminate() { delegate_->willTerminate(); }

}  // namespace tavero::app
