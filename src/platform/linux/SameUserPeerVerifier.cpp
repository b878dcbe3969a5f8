#include "platform/linux/SameUserPeerVerifier.h"

#include "platform/linux/ProcessPeerVerifier.h"

namespace tavero::platform {

SameUserPeerVerifier::SameUserPeerVerifier(uid_t user, std::filesystem::path proc)
    : user_(user), proc_(std::move(proc)) {}

bool SameUserPeerVerifier::isShellPeer(const boost::asio::ip::tcp::endpoint& peer,
                                       const boost::asio::ip::tcp::endpoint& local) {
  auto entry = ProcessPeerVerifier::socketEntry(ProcessPeerVerifier::connectionTable(proc_, peer), peer, local);
  return entry && entry->owner == user_;
}

std::string SameUserPeerVerifier::refusalReason() const {
  return "it does not come from a program of user " + std::to_string(user_) + " (the user serving the bridge)";
}

}  // namespace tavero::platform
