// The HTTP message types the server works with (Boost.Beast parses and
// serialises them), and the one way this code builds an answer.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <string>

namespace tavero::net {

using HTTPRequestMessage = boost::beast::http::request<boost::beast::http::string_body>;
using HTTPResponseMessage = boost::beast::http::response<boost::beast::http::string_body>;
using HTTPStatus = boost::beast::http::status;

// An HTTP/1.1 answer with the status's standard reason phrase and a
// Content-Length that matches `body`. Every answer carries a length: without
// one, a client on a kept-alive connection would wait for the close.
HTTPResponseMessage makeHTTPResponse(HTTPStatus status, std::string body = {});

}  // namespace tavero::net
