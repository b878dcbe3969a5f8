// Accepts a loopback connection only when the socket at its other end
// belongs to this process's user: every program of the machine can reach a
// loopback port, and `tavero serve` hands out the same databases, files and
// contacts as the app, which are that user's alone.
//
// The owner is the user the kernel records for the client's socket in
// /proc/net/tcp{,6} (the user of the process that made it). A connection
// whose client socket cannot be found there (already gone) is refused.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>

#include "bridge/PeerVerifier.h"

namespace tavero::platform {

class SameUserPeerVerifier : public bridge::PeerVerifier {
 public:
  explicit SameUserPeerVerifier(uid_t user = ::geteuid(), std::filesystem::path proc = "/proc");

  bool isShellPeer(const boost::asio::ip::tcp::endpoint& peer,
                   const boost::asio::ip::tcp::endpoint& local) override;
  std::string refusalReason() const override;

 private:
  uid_t user_;
  std::filesystem::path proc_;
};

}  // namespace tavero::platform
