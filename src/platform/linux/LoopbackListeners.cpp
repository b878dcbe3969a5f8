#include "platform/linux/LoopbackListeners.h"

#include <charconv>
#include <sstream>

#include "base/FileRead.h"

namespace tavero::platform {
namespace {

constexpr std::string_view kListening = "0A";

std::optional<unsigned long> hexNumber(std::string_view text) {
  unsigned long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<uid_t> listenerOwners(std::string_view procNetTcp, uint16_t port) {
  std::vector<uid_t> owners;
  std::istringstream lines{std::string(procNetTcp)};
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
    if (state != kListening) continue;
    const size_t colon = local.rfind(':');
    if (colon == std::string::npos || hexNumber(std::string_view(local).substr(colon + 1)) != port) continue;
    unsigned long owner = 0;
    auto [end, error] = std::from_chars(uid.data(), uid.data() + uid.size(), owner);
    if (error != std::errc() || end != uid.data() + uid.size()) continue;
    owners.push_back(static_cast<uid_t>(owner));
  }
  return owners;
}

std::optional<std::string> refusalOfLoopbackServer(uint16_t port, uid_t user, const std::filesystem::path& proc) {
  std::vector<uid_t> owners;
  for (const char* table : {"net/tcp", "net/tcp6"}) {
    auto text = base::readFileText(proc / table);
    if (!text) continue;
    auto found = listenerOwners(*text, port);
    owners.insert(owners.end(), found.begin(), found.end());
  }
  const std::string where = "port " + std::to_string(port);
  if (owners.empty()) return "nothing listens on " + where + ": start the development server first";
  for (uid_t owner : owners) {
    if (owner != user)
      return where + " is held by another user (uid " + std::to_string(owner) +
             "), whose pages would get the page token";
  }
  return std::nullopt;
}

}  // namespace tavero::platform
