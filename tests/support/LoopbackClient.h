// A plain blocking HTTP client for tests: sends raw bytes to a loopback port
// and reads answers one at a time. Every read gives up after a few seconds,
// so a test that expects an answer that never comes fails instead of hanging.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::testing {

struct HttpAnswer {
  unsigned version = 11;
  int status = 0;
  std::string reason;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string raw;  // the bytes of this answer as received

  bool has(const std::string& lowerName) const { return headers.count(lowerName) != 0; }
  std::string header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
};

class LoopbackClient {
 public:
  explicit LoopbackClient(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~LoopbackClient();
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  void send(std::string_view bytes);
  // Ends our side of the connection; the server may still answer.
  void shutdownSend();

  // The next answer, or nullopt when the server closed or did not answer in
  // time. `toHead`: the answer has no body whatever its Content-Length.
  std::optional<HttpAnswer> readAnswer(bool toHead = false);
  // True when the server closes the connection (no more bytes) in time.
  bool waitForClose();

 private:
  bool receiveMore();

  int fd_ = -1;
  std::string buffer_;
};

// A GET of `target` with Host 127.0.0.1:<port>, kept alive, as a local tool
// sends it to the bridge (with the header X-Tavero-Client).
std::string getRequest(std::string_view target, uint16_t port, std::string_view extraHeaders = {});

}  // namespace tavero::testing
