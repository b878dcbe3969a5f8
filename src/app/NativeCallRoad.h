// The road of page calls through the shell's web process extension: a Unix
// socket in the user's private runtime folder, served on the bridge's worker
// thread, whose messages go to the page channel exactly as those WebKit's
// script message channel carries (same token check, same answers), and the
// extension's folder and settings handed to the web view host.
//
// Who may connect: processes of the shell's user (SO_PEERCRED) that descend
// from the shell (its web processes) unless `onlyShellProcesses` is off, and
// that greet with the page token. Off when TAVERO_WEB_EXTENSION=off, when
// the extension is not installed or built, or when the socket cannot be
// made: pages then take the message channel (or HTTP) as before.
//
// Thread rules: open and destroy on the main thread, before the first web
// view loads and before the bridge goes.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "bridge/QLTaveroBridge.h"
#include "net/LocalMessageServer.h"
#include "platform/linux/WebKitWebViewHost.h"

namespace tavero::app {

class NativeCallRoad {
 public:
  struct Settings {
    std::string pageToken;
    std::filesystem::path runtimeFolder;  // private to the user; made when missing
    bool onlyShellProcesses = true;
  };
  // Null when the road is off (the log says why, unless it was switched off).
  static std::unique_ptr<NativeCallRoad> open(bridge::QLTaveroBridge& bridge, platform::WebKitWebViewHost& host,
                                              const Settings& settings);

  // The folder holding the extension module: the installed one beside the
  // program (<prefix>/<libdir>/tavero/web-extensions), else the one of the
  // build tree the program runs from (<build>/web-extensions); nothing when
  // neither has it or TAVERO_WEB_EXTENSION=off.
  static std::optional<std::filesystem::path> extensionFolder();
  // A folder only this user may enter (mode 0700, owned by the user, not a
  // link), made when missing; why not otherwise.
  static std::optional<std::string> makePrivateRuntimeFolder(const std::filesystem::path& folder);

  const std::filesystem::path& socketPath() const { return server_->socketPath(); }

 private:
  explicit NativeCallRoad(std::unique_ptr<net::LocalMessageServer> server) : server_(std::move(server)) {}
  std::unique_ptr<net::LocalMessageServer> server_;
};

}  // namespace tavero::app
