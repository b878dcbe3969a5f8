// One request received on an HTTP connection, and its answer once set.
#pragma once

#include <memory>
#include <optional>

#include "net/HTTPMessage.h"

namespace tavero::net {

class HTTPConnection;

class HTTPServerRequest : public std::enable_shared_from_this<HTTPServerRequest> {
 public:
  // Requests are always held by shared_ptr (setResponse relies on it).
  HTTPServerRequest(HTTPRequestMessage request, std::weak_ptr<HTTPConnection> connection);

  const HTTPRequestMessage& request() const { return request_; }

  // Sets the answer. The connection writes answers strictly in the order the
  // requests arrived, so this one goes out once every older one has. Safe
  // from any thread: off the connection's thread the answer is handed to it.
  // An answer whose writing has begun is not replaced.
  void setResponse(HTTPResponseMessage response);

  // The answer, if set. Connection thread only.
  const HTTPResponseMessage* response() const { return response_ ? &*response_ : nullptr; }

  // True when the connection closes after this answer (Connection: close,
  // HTTP/1.0 without keep-alive, or an answer to a malformed request).
  bool closesConnection() const { return closesConnection_; }

 private:
  friend class HTTPConnection;
  void applyResponse(HTTPResponseMessage response);

  HTTPRequestMessage request_;
  std::weak_ptr<HTTPConnection> connection_;
  std::optional<HTTPResponseMessage> response_;  // connection thread only
  bool writing_ = false;                          // connection thread only
  bool closesConnection_ = false;
  size_t reservedBodyBytes_ = 0;  // of the server's body budget, until answered
};

}  // namespace tavero::net
