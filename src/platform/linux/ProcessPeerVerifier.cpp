#include "platform/linux/ProcessPeerVerifier.h"

#include <array>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#include "base/FileRead.h"

namespace tavero::platform {
namespace fs = std::filesystem;
using boost::asio::ip::tcp;

namespace {

// The kernel writes each address as 32-bit words in hexadecimal, in host
// byte order; copying the words back gives the address bytes.
std::optional<tcp::endpoint> parseProcEndpoint(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view address = text.substr(0, colon);
  unsigned port = 0;
  try {
    port = static_cast<unsigned>(std::stoul(std::string(text.substr(colon + 1)), nullptr, 16));
  } catch (...) {
    return std::nullopt;
  }
  size_t words = address.size() / 8;
  if ((words != 1 && words != 4) || address.size() % 8 != 0) return std::nullopt;
  std::array<unsigned char, 16> bytes{};
  for (size_t w = 0; w < words; ++w) {
    uint32_t word = 0;
    try {
      word = static_cast<uint32_t>(std::stoul(std::string(address.substr(w * 8, 8)), nullptr, 16));
    } catch (...) {
      return std::nullopt;
    }
    std::memcpy(bytes.data() + w * 4, &word, 4);
  }
  if (words == 1) {
    boost::asio::ip::address_v4::bytes_type v4;
    std::memcpy(v4.data(), bytes.data(), 4);
    return tcp::endpoint(boost::asio::ip::address_v4(v4), static_cast<uint16_t>(port));
  }
  boost::asio::ip::address_v6::bytes_type v6;
  std::memcpy(v6.data(), bytes.data(), 16);
  return tcp::endpoint(boost::asio::ip::address_v6(v6), static_cast<uint16_t>(port));
}

}  // namespace

ProcessPeerVerifier::ProcessPeerVerifier(pid_t shell, fs::path proc) : shell_(shell), proc_(std::move(proc)) {}

std::optional<ProcessPeerVerifier::SocketEntry> ProcessPeerVerifier::socketEntry(std::string_view procNetTcp,
                                                                                 const tcp::endpoint& socketEnd,
                                                                                 const tcp::endpoint& remoteEnd) {
  std::istringstream lines{std::string(procNetTcp)};
  std::string line;
  std::getline(lines, line);  // the column titles
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, localText, remoteText, state, queues, timer, retransmits, timeout;
    unsigned long inode = 0;
    uid_t owner = 0;
    if (!(fields >> slot >> localText >> remoteText >> state >> queues >> timer >> retransmits >> owner >> timeout >>
          inode))
      continue;
    auto local = parseProcEndpoint(localText);
    auto remote = parseProcEndpoint(remoteText);
    if (local && remote && *local == socketEnd && *remote == remoteEnd && inode != 0) return SocketEntry{inode, owner};
  }
  return std::nullopt;
}

std::optional<unsigned long> ProcessPeerVerifier::socketInode(std::string_view procNetTcp, const tcp::endpoint& socketEnd,
                                                              const tcp::endpoint& remoteEnd) {
  auto entry = socketEntry(procNetTcp, socketEnd, remoteEnd);
  if (!entry) return std::nullopt;
  return entry->inode;
}

std::string ProcessPeerVerifier::connectionTable(const fs::path& proc, const tcp::endpoint& peer) {
  return base::readFileText(proc / (peer.address().is_v4() ? "net/tcp" : "net/tcp6")).value_or("");
}

std::set<pid_t> ProcessPeerVerifier::descendants(pid_t ancestor) const {
  std::multimap<pid_t, pid_t> children;  // parent -> child
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(proc_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // /proc/<pid>/stat: "pid (command) state ppid ..."; the command may hold spaces and parentheses.
    std::string stat = base::readFileText(entry.path() / "stat").value_or("");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    if (rest >> state >> parent) children.emplace(parent, static_cast<pid_t>(std::stol(name)));
  }
  std::set<pid_t> found;
  std::vector<pid_t> pending{ancestor};
  while (!pending.empty()) {
    pid_t next = pending.back();
    pending.pop_back();
    auto [first, last] = children.equal_range(next);
    for (auto it = first; it != last; ++it)
      if (found.insert(it->second).second) pending.push_back(it->second);
  }
  return found;
}

bool ProcessPeerVerifier::holdsSocket(pid_t pid, unsigned long inode) const {
  const std::string wanted = "socket:[" + std::to_string(inode) + "]";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(proc_ / std::to_string(pid) / "fd", ec)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path(), linkError).string() == wanted) return true;
  }
  return false;
}

const std::set<pid_t>& ProcessPeerVerifier::shellDescendants() {
  auto now = std::chrono::steady_clock::now();
  if (descendantsFound_ == std::chrono::steady_clock::time_point{} || now - descendantsFound_ > std::chrono::seconds(1)) {
    descendants_ = descendants(shell_);
    descendantsFound_ = now;
  }
  return descendants_;
}

bool ProcessPeerVerifier::isShellPeer(const tcp::endpoint& peer, const tcp::endpoint& local) {
  auto inode = socketInode(connectionTable(proc_, peer), peer, local);
  if (!inode) return false;
  for (pid_t pid : shellDescendants())
    if (holdsSocket(pid, *inode)) return true;
  // A process started since the list was made (a new web process) is not
  // in it: look again before refusing, but not more than ten times a second.
  if (std::chrono::steady_clock::now() - descendantsFound_ < std::chrono::milliseconds(100)) return false;
  descendantsFound_ = {};
  for (pid_t pid : shellDescendants())
    if (holdsSocket(pid, *inode)) return true;
  return false;
}

}  // namespace tavero::platform
