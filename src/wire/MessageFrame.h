// The frames of the local socket between the web process extension and the
// shell. Every frame is a 12-byte header and a body:
//
//   u32 body length | u32 id | u32 tag      (big-endian)
//
// From the extension: first a hello (id 0, tag kHelloTag, body: the page
// token), then requests (id: the extension's number for the call, never 0;
// tag: the number of the page that sent it; body: the page channel's
// message text). From the shell: one answer per request, with the request's
// id (tag kAnswerTag: the body is the answer's text; kRejectionTag: the
// message was rejected, the body says why).
//
// Plain C++ without dependencies: it builds into the shell and into the
// extension the web process loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavero::wire {

struct MessageFrame {
  static constexpr size_t kHeaderSize = 12;
  // As large as the HTTP bridge's form bodies, with room for the message's
  // JSON around the arguments.
  static constexpr size_t kMaxBodySize = 64 * 1024 * 1024 + 64 * 1024;
  static constexpr uint32_t kHelloTag = 0x7461766f;  // "tavo"
  static constexpr uint32_t kAnswerTag = 0;
  static constexpr uint32_t kRejectionTag = 1;

  uint32_t id = 0;
  uint32_t tag = 0;
  std::string body;

  // The frame's bytes: header and body. REQUIRES: body.size() <= kMaxBodySize.
  std::string encode() const;
  static std::string encode(uint32_t id, uint32_t tag, std::string_view body);
};

}  // namespace tavero::wire
