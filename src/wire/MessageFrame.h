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
// Bytes calls carry a piece of file content beside a small JSON header,
// without putting the bytes into JSON text: a request whose tag has
// kBytesFlag set (the page number is the tag's other bits) has a body in
// two parts,
//
//   u32 header length | header (JSON text) | bytes     (big-endian length)
//
// and its answer, unless rejected, has the tag kBytesAnswerTag and a body
// in the same two parts. The header is at most kMaxBytesHeaderSize bytes
// and never empty; the bytes at most kMaxBytesSize.
//
// Plain C++ without dependencies: it builds into the shell and into the
// extension the web process loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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
  static constexpr uint32_t kBytesFlag = 0x80000000;
  static constexpr uint32_t kBytesAnswerTag = kBytesFlag;
  static constexpr size_t kMaxBytesHeaderSize = 64 * 1024;
  // A piece of file content on this road: the file API's pages read and
  // write far smaller pieces; larger ones take the JSON road.
  static constexpr size_t kMaxBytesSize = 16 * 1024 * 1024;

  // The two parts of a bytes frame's body (views into it).
  struct BytesBody {
    std::string_view header;
    std::string_view bytes;
  };

  uint32_t id = 0;
  uint32_t tag = 0;
  std::string body;

  // The frame's bytes: header and body. REQUIRES: body.size() <= kMaxBodySize.
  std::string encode() const;
  static std::string encode(uint32_t id, uint32_t tag, std::string_view body);

  // The body of a bytes frame. REQUIRES: header and bytes within the limits.
  static std::string encodeBytesBody(std::string_view header, std::string_view bytes);
  // The parts of a bytes frame's body; nothing when the body is shorter than
  // the length it announces, the header is empty or either part is over
  // its limit.
  static std::optional<BytesBody> splitBytesBody(std::string_view body);
};

}  // namespace tavero::wire
