// A Unix socket's file path made usable by bind() and connect(), whose
// address field holds at most 107 bytes. A longer path is reached through
// its folder: the folder is opened and the socket named as
// /proc/self/fd/<folder>/<name>, which stays valid while this object lives.
//
// Thread rules: a plain value; keep it alive while the address is used.
#pragma once

#include <sys/un.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::control {

class UnixSocketPath {
 public:
  // The address for `path`, or nullopt (errno set) when its folder cannot
  // be opened.
  static std::optional<UnixSocketPath> forPath(const std::filesystem::path& path);

  UnixSocketPath(UnixSocketPath&& other) noexcept;
  UnixSocketPath& operator=(UnixSocketPath&& other) noexcept;
  UnixSocketPath(const UnixSocketPath&) = delete;
  UnixSocketPath& operator=(const UnixSocketPath&) = delete;
  ~UnixSocketPath();

  // What to pass to bind() or connect().
  const std::string& address() const { return address_; }

  static constexpr size_t kMaxAddressLength = sizeof(sockaddr_un::sun_path) - 1;

 private:
  UnixSocketPath(std::string address, int folder) : address_(std::move(address)), folder_(folder) {}
  std::string address_;
  int folder_ = -1;  // the open folder of a long path, or -1
};

// The socket address for `address` (a path, or what UnixSocketPath gives),
// ready for bind() or connect() with its full size; nullopt when `address`
// is empty, longer than UnixSocketPath::kMaxAddressLength or holds a NUL
// byte (the kernel would cut it or read a different name).
std::optional<sockaddr_un> unixSocketAddress(std::string_view address);

}  // namespace tavero::control
