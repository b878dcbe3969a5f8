// A client of a shell's control socket: connects, sends requests and reads
// their answers, one at a time. `tavero device` and tests use it.
//
// Thread rules: one thread at a time per client.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "control/ControlAnswer.h"

namespace tavero::control {

class ControlClient {
 public:
  static constexpr std::chrono::seconds kDefaultTimeout{30};

  // A client connected to the socket at `socketPath`, or a message saying
  // why there is none (no shell there, a shell that ended, no permission).
  static std::variant<ControlClient, std::string> connect(const std::filesystem::path& socketPath);

  // Sends the command `words` and waits for its answer; an error answer when
  // the shell closes the connection, sends no answer line within `timeout`,
  // or sends more than a few megabytes.
  ControlAnswer request(const std::vector<std::string>& words,
                        std::chrono::milliseconds timeout = kDefaultTimeout);

  // Sends raw bytes (tests of the server's handling of bad input).
  bool sendRaw(const std::string& bytes);
  // The next answer line as sent (without its line feed); empty when the
  // server closed the connection or sent nothing in time.
  std::string readLine(std::chrono::milliseconds timeout = kDefaultTimeout);

  ControlClient(ControlClient&& other) noexcept;
  ControlClient& operator=(ControlClient&& other) noexcept;
  ~ControlClient();

  // Connects, sends one command and returns its answer.
  static ControlAnswer send(const std::filesystem::path& socketPath, const std::vector<std::string>& words,
                            std::chrono::milliseconds timeout = kDefaultTimeout);

  static constexpr size_t kMaxAnswerLength = 64 << 20;

 private:
  explicit ControlClient(int fd) : fd_(fd) {}
  enum class ReadResult { Line, Closed, TimedOut, TooLong, Failed };
  ReadResult readAnswerLine(std::string& line, std::chrono::milliseconds timeout);

  int fd_ = -1;
  std::string buffer_;  // bytes received after the last answer line
};

}  // namespace tavero::control
