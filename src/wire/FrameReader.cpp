#include "wire/FrameReader.h"

#include <cstdint>

namespace tavero::wire {
namespace {

uint32_t readBigEndian(const char* bytes) {
  auto byte = [bytes](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])); };
  return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

}  // namespace

void FrameReader::append(std::string_view bytes) {
  if (broken_) return;
  // Drop what was read before growing: the buffer holds at most one frame
  // and the bytes that came with it.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<MessageFrame> FrameReader::next() {
  if (broken_ || pendingBytes() < MessageFrame::kHeaderSize) return std::nullopt;
  const char* header = buffer_.data() + start_;
  const size_t bodySize = readBigEndian(header);
  if (bodySize > maxBodySize_) {
    broken_ = true;
    buffer_.clear();
    buffer_.shrink_to_fit();
    start_ = 0;
    return std::nullopt;
  }
  if (pendingBytes() - MessageFrame::kHeaderSize < bodySize) return std::nullopt;
  MessageFrame frame;
  frame.id = readBigEndian(header + 4);
  frame.tag = readBigEndian(header + 8);
  frame.body.assign(header + MessageFrame::kHeaderSize, bodySize);
  start_ += MessageFrame::kHeaderSize + bodySize;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return frame;
}

}  // namespace tavero::wire
