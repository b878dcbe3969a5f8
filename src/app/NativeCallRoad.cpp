#include "app/NativeCallRoad.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/ProgramModules.h"
#include "bridge/PageToken.h"
#include "log/Log.h"
#include "modules/TQFileSystem.h"
#include "platform/linux/ProcessAncestry.h"
#include "wire/MessageFrame.h"

namespace tavero::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kExtensionModule = "libtavero-web-extension.so";

bool switchedOff() {
  const char* value = std::getenv("TAVERO_WEB_EXTENSION");
  return value && (std::strcmp(value, "off") == 0 || std::strcmp(value, "0") == 0);
}

// The page channel's name for the view: the same for a page's messages and
// its bytes calls, which then run in order.
std::string viewLabel(const net::LocalMessageServer::Peer& peer, uint32_t page) {
  return "page " + std::to_string(page) + " of process " + std::to_string(peer.pid);
}

static_assert(modules::TQFileSystem::kMaxBytesPiece <= wire::MessageFrame::kMaxBytesSize,
              "a file system's bytes read must fit one frame");

// A bytes call: its header and bytes to the page channel, its answer back
// as a bytes body. The connection checked that the body splits.
void receiveBytes(bridge::PageMessageChannel& channel, const std::string& view, std::string body,
                  net::LocalMessageServer::Reply reply) {
  auto parts = wire::MessageFrame::splitBytesBody(body);
  if (!parts) return reply(true, "a bytes call whose lengths do not hold together");
  std::string header(parts->header);
  body.erase(0, body.size() - parts->bytes.size());  // the bytes alone, in place
  channel.receiveBytes(view, header, std::move(body),
                       [reply = std::move(reply)](std::optional<std::string> answer, std::string bytes,
                                                  std::string rejection) {
                         if (!answer) return reply(true, std::move(rejection));
                         if (bytes.size() > wire::MessageFrame::kMaxBytesSize) {
                           log::error("native calls: a bytes answer of " + std::to_string(bytes.size()) +
                                      " bytes is over the limit");
                           return reply(true, "the answer is too large");
                         }
                         reply(false, wire::MessageFrame::encodeBytesBody(*answer, bytes));
                       });
}

}  // namespace

std::optional<fs::path> NativeCallRoad::extensionFolder() {
  if (switchedOff()) return std::nullopt;
  // WebKit loads every module in the folder it is given, so the folder
  // holds the extension alone.
  auto module = findProgramModule("web-extensions", kExtensionModule);
  if (!module) return std::nullopt;
  return module->parent_path();
}

std::optional<std::string> NativeCallRoad::makePrivateRuntimeFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      return "cannot make " + folder.string() + ": " + std::strerror(errno);
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return "cannot read " + folder.string() + ": " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
    return folder.string() + " is not a private folder of this user (mode 0700)";
  return std::nullopt;
}

std::unique_ptr<NativeCallRoad> NativeCallRoad::open(bridge::QLTaveroBridge& bridge,
                                                     platform::WebKitWebViewHost& host, const Settings& settings) {
  if (switchedOff()) {
    log::info("native calls: off (TAVERO_WEB_EXTENSION=off); pages use the message channel");
    return nullptr;
  }
  auto folder = extensionFolder();
  bridge::PageMessageChannel* channel = bridge.pageChannel();
  if (!folder || !channel) {
    log::info("native calls: the web process extension is not installed; pages use the message channel");
    return nullptr;
  }
  if (auto error = makePrivateRuntimeFolder(settings.runtimeFolder)) {
    log::warning("native calls: " + *error + "; pages use the message channel");
    return nullptr;
  }
  const uid_t user = ::geteuid();
  const pid_t shell = ::getpid();
  net::LocalMessageServer::Options options{
      .socketPath = settings.runtimeFolder / ("calls-" + std::to_string(shell) + ".sock"),
      .acceptPeer =
          [user, shell, onlyShell = settings.onlyShellProcesses](const net::LocalMessageServer::Peer& peer) {
            return peer.uid == user && (!onlyShell || platform::isDescendantProcess(peer.pid, shell));
          },
      .acceptHello = [token = settings.pageToken](std::string_view presented) {
        return bridge::pageTokensMatch(token, presented);
      },
      .onRequest =
          [channel](const net::LocalMessageServer::Peer& peer, uint32_t page, std::string message,
                    net::LocalMessageServer::Reply reply) {
            if (page & wire::MessageFrame::kBytesFlag) {
              return receiveBytes(*channel, viewLabel(peer, page & ~wire::MessageFrame::kBytesFlag),
                                  std::move(message), std::move(reply));
            }
            // The calls of one page run in order, as on the message channel.
            channel->receive(viewLabel(peer, page), message,
                             [reply = std::move(reply)](std::optional<std::string> answer, std::string rejection) {
                               if (answer)
                                 reply(false, std::move(*answer));
                               else
                                 reply(true, std::move(rejection));
                             });
          },
  };
  auto server = net::LocalMessageServer::start(bridge.worker(), std::move(options));
  if (auto* error = std::get_if<std::string>(&server)) {
    log::warning("native calls: " + *error + "; pages use the message channel");
    return nullptr;
  }
  auto road = std::unique_ptr<NativeCallRoad>(
      new NativeCallRoad(std::move(std::get<std::unique_ptr<net::LocalMessageServer>>(server))));
  host.useWebExtension({.folder = *folder, .socketPath = road->socketPath(), .pageToken = settings.pageToken});
  log::debug("native calls: pages call through the web process extension in " + folder->string());
  return road;
}

}  // namespace tavero::app
