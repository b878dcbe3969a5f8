#include "wire/MessageFrame.h"

namespace tavero::wire {
namespace {

void appendBigEndian(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value >> 24));
  out.push_back(static_cast<char>(value >> 16));
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value));
}

}  // namespace

std::string MessageFrame::encode() const { return encode(id, tag, body); }

std::string MessageFrame::encode(uint32_t id, uint32_t tag, std::string_view body) {
  std::string bytes;
  bytes.reserve(kHeaderSize + body.size());
  appendBigEndian(bytes, static_cast<uint32_t>(body.size()));
  appendBigEndian(bytes, id);
  appendBigEndian(bytes, tag);
  bytes.append(body);
  return bytes;
}

}  // namespace tavero::wire
