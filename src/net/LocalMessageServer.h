// A Unix socket on which the web process extension carries page calls to
// the shell and their answers back (frames: wire/MessageFrame.h), without
// the UI process in between.
//
// Who may speak: a connecting process must pass `acceptPeer` (its pid and
// uid from SO_PEERCRED, checked before anything is read), and its first
// frame must be a hello whose token passes `acceptHello`; anything else
// closes the connection. A connection that sends no hello within the hello
// timeout is closed; at most `maxConnections` are open at once. Each
// connection has at most `maxUnanswered` requests under way: past that the
// shell stops reading it until answers go out, so a flood waits in the
// kernel's buffers and the sender's, not in the shell's memory. A frame
// announcing a body over the limit closes the connection.
//
// Thread rules: the listener and every connection run on the worker
// thread given (the bridge's). `onRequest` is called there; its reply may
// come on any thread, once. start() and the destructor may be called from
// any thread but the worker's, and wait for it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "net/QLWorkerThread.h"

namespace tavero::net {

class LocalMessageServer {
 public:
  struct Peer {
    pid_t pid = 0;
    uid_t uid = 0;
  };
  // The answer to one request: its text, or (rejected) why it was refused.
  using Reply = std::function<void(bool rejected, std::string text)>;
  struct Options {
    std::filesystem::path socketPath;  // REQUIRES: in a folder only this user may enter
    std::function<bool(const Peer&)> acceptPeer;
    std::function<bool(std::string_view token)> acceptHello;
    // A request of page `page` on a connection from `peer`. With
    // MessageFrame::kBytesFlag in `page`, a bytes call: its message splits
    // into header and bytes (checked before it gets here), and its answer's
    // text must be a bytes body too (MessageFrame::encodeBytesBody).
    std::function<void(const Peer& peer, uint32_t page, std::string message, Reply reply)> onRequest;
    size_t maxConnections = 64;
    size_t maxUnanswered = 512;
    std::chrono::milliseconds helloTimeout{std::chrono::seconds(10)};
    size_t maxBodySize = 0;  // 0: MessageFrame::kMaxBodySize
  };

  // Listens on `options.socketPath` (a socket file left there is replaced);
  // a message saying why it cannot.
  static std::variant<std::unique_ptr<LocalMessageServer>, std::string> start(QLWorkerThread& worker,
                                                                               Options options);
  // Closes the listener and every connection and removes the socket file.
  ~LocalMessageServer();

  LocalMessageServer(const LocalMessageServer&) = delete;
  LocalMessageServer& operator=(const LocalMessageServer&) = delete;

  const std::filesystem::path& socketPath() const;

  class State;  // shared with the connections and their pending work

 private:
  LocalMessageServer(QLWorkerThread& worker, std::shared_ptr<State> state);
  QLWorkerThread& worker_;
  std::shared_ptr<State> state_;
};

}  // namespace tavero::net
