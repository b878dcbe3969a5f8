// Who listens on a TCP port of this machine, from the kernel's socket
// tables (/proc/net/tcp and tcp6): a development server's page gets the
// page token, so the server must be this user's own program, not one that
// another user started on the port first.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavero::platform {

// The owners (user ids) of the listening sockets on `port` in the text of a
// /proc/net/tcp or tcp6 table, whatever address they listen on.
std::vector<uid_t> listenerOwners(std::string_view procNetTcp, uint16_t port);

// Why the server on `port` cannot be trusted with the page token, or
// nothing when every socket listening there belongs to `user` (and there is
// at least one).
std::optional<std::string> refusalOfLoopbackServer(uint16_t port, uid_t user = ::geteuid(),
                                                   const std::filesystem::path& proc = "/proc");

}  // namespace tavero::platform
