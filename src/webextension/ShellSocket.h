// One connection of the web process to the shell's socket for page calls:
// connected and greeted with the page token on first use. Blocking writes
// and reads of whole frames (wire/MessageFrame.h).
//
// Thread rules: the web process's main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire/FrameReader.h"
#include "wire/MessageFrame.h"

namespace tavero::webextension {

class ShellSocket {
 public:
  ShellSocket(std::string socketPath, std::string token);
  ~ShellSocket();

  ShellSocket(const ShellSocket&) = delete;
  ShellSocket& operator=(const ShellSocket&) = delete;

  // Connects and says hello unless connected; false once the socket has
  // failed (it is not tried again: calls go the page's other way).
  bool ensureConnected();
  // The connection failed (or could not be made) and stays closed.
  bool failed() const { return failed_; }
  int fd() const { return fd_; }

  // Writes a whole frame, waiting while the shell reads; false (and the
  // socket closed) when it cannot.
  bool write(uint32_t id, uint32_t tag, std::string_view body);
  // The next frame, waiting for it; nothing when the socket failed or the
  // shell closed it (then it is closed here too).
  std::optional<wire::MessageFrame> read();
  // Reads what the socket has without waiting and adds the frames now whole
  // to `frames`; false when the shell closed the socket (or it failed).
  bool readAvailable(std::vector<wire::MessageFrame>& frames);

  void fail();
  // Why the socket failed (errno's words), empty while it has not.
  const std::string& failure() const { return failure_; }
  bool closedByShell() const { return failure_ == kClosedByShell; }

 private:
  static constexpr const char* kClosedByShell = "closed by the shell";
  std::string socketPath_;
  std::string token_;
  int fd_ = -1;
  bool failed_ = false;
  std::string failure_;
  wire::FrameReader reader_;
};

}  // namespace tavero::webextension
