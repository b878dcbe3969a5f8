#include "wire/MessageFrame.h"

namespace tavero::wire {
namespace {

void appendBigEndian(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value >> 24));
  out.push_back(static_cast<char>(value >> 16));
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value));
}

uint32_t readBigEndian(std::string_view bytes) {
  auto byte = [bytes](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])); };
  return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

constexpr size_t kLengthSize = 4;

}  // namespace

std::string MessageFrame::encodeBytesBody(std::string_view header, std::string_view bytes) {
  std::string body;
  body.reserve(kLengthSize + header.size() + bytes.size());
  appendBigEndian(body, static_cast<uint32_t>(header.size()));
  body.append(header);
  body.append(bytes);
  return body;
}

std::optional<MessageFrame::BytesBody> MessageFrame::splitBytesBody(std::string_view body) {
  if (body.size() < kLengthSize) return std::nullopt;
  const size_t headerSize = readBigEndian(body);
  const size_t rest = body.size() - kLengthSize;
  if (headerSize == 0 || headerSize > kMaxBytesHeaderSize || headerSize > rest) return std::nullopt;
  if (rest - headerSize > kMaxBytesSize) return std::nullopt;
  return BytesBody{body.substr(kLengthSize, headerSize), body.substr(kLengthSize + headerSize)};
}

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
