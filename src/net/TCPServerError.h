// Errors of QLTCPServer::start, in the error domain "TCPServerErrorDomain".
#pragma once

#include <system_error>

namespace tavero::net {

enum class TCPServerError {
  couldNotBindToIPv4Address = 1,  // port in use, no permission
  noSocketsAvailable = 3,         // no socket could be created
};

const std::error_category& tcpServerErrorCategory();  // name(): "TCPServerErrorDomain"

inline std::error_code make_error_code(TCPServerError e) {
  return {static_cast<int>(e), tcpServerErrorCategory()};
}

}  // namespace tavero::net

template <>
struct std::is_error_code_enum<tavero::net::TCPServerError> : std::true_type {};
