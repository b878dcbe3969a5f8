// Accepts a bridge connection only when the process at its other end is a
// descendant of this one: the shell's web views run in WebKit's web and
// network processes, which the shell starts. Another program on the
// machine, or a browser whose page sends requests to the bridge, is not.
//
// Linux only: the socket is found in /proc/net/tcp{,6}, its owner through
// /proc/<pid>/fd.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "bridge/PeerVerifier.h"

namespace tavero::platform {

class ProcessPeerVerifier : public bridge::PeerVerifier {
 public:
  explicit ProcessPeerVerifier(pid_t shell = ::getpid(), std::filesystem::path proc = "/proc");

  bool isShellPeer(const boost::asio::ip::tcp::endpoint& peer,
                   const boost::asio::ip::tcp::endpoint& local) override;
  std::string refusalReason() const override { return "it does not come from the shell's web views"; }

  // The socket whose local end is `socketEnd` and remote end `remoteEnd`,
  // read from the text of /proc/net/tcp or /proc/net/tcp6: its inode, and
  // the user who owns it (who made it).
  struct SocketEntry {
    unsigned long inode = 0;
    uid_t owner = 0;
  };
  static std::optional<SocketEntry> socketEntry(std::string_view procNetTcp,
                                                const boost::asio::ip::tcp::endpoint& socketEnd,
                                                const boost::asio::ip::tcp::endpoint& remoteEnd);
  static std::optional<unsigned long> socketInode(std::string_view procNetTcp,
                                                  const boost::asio::ip::tcp::endpoint& socketEnd,
                                                  const boost::asio::ip::tcp::endpoint& remoteEnd);
  // The text of /proc/net/tcp (IPv4 `peer`) or /proc/net/tcp6 under `proc`.
  static std::string connectionTable(const std::filesystem::path& proc, const boost::asio::ip::tcp::endpoint& peer);
  // Every process below `ancestor` (not `ancestor` itself).
  std::set<pid_t> descendants(pid_t ancestor) const;
  // The shell's descendants, found again at most once a second: listing
  // them reads every process of the machine, and a flood of connections
  // must not make the bridge do that for each one.
  const std::set<pid_t>& shellDescendants();
  // Whether process `pid` holds the socket `inode`.
  bool holdsSocket(pid_t pid, unsigned long inode) const;

 private:
  pid_t shell_;
  std::filesystem::path proc_;
  std::set<pid_t> descendants_;
  std::chrono::steady_clock::time_point descendantsFound_;
};

}  // namespace tavero::platform
