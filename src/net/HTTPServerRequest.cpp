#include "net/HTTPServerRequest.h"

#include "log/Log.h"
#include "net/HTTPConnection.h"

namespace tavero::net {

HTTPServerRequest::HTTPServerRequest(HTTPRequestMessage request,
                                     std::weak_ptr<HTTPConnection> connection)
    : request_(std::move(request)), connection_(std::move(connection)) {
  closesConnection_ = !request_.keep_alive();
}

void HTTPServerRequest::setResponse(HTTPResponseMessage response) {
  auto connection = connection_.lock();
  if (!connection) return;  // the peer is gone; nobody is waiting for this answer
  if (connection->isConnectionThread()) {
    applyResponse(std::move(response));
    return;
  }
  connection->post([self = shared_from_this(), response = std::move(response)]() mutable {
    self->applyResponse(std::move(response));
  });
}

void HTTPServerRequest::applyResponse(HTTPResponseMessage response) {
  auto connection = connection_.lock();
  if (!connection) return;
  if (writing_) {
    log::warning("HTTP: an answer was set again after it began to be written; ignored");
    return;
  }
  response_ = std::move(response);
  connection->processOutgoingBytes();
}

}  // namespace tavero::net
