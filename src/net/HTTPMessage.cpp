#include "net/HTTPMessage.h"

namespace tavero::net {

HTTPResponseMessage makeHTTPResponse(HTTPStatus status, std::string body) {
  HTTPResponseMessage response(status, 11);
  response.set(boost::beast::http::field::content_length, std::to_string(body.size()));
  response.body() = std::move(body);
  return response;
}

}  // namespace tavero::net
