// Cuts a byte stream into MessageFrames. Bytes are added as they arrive, in
// pieces of any size; whole frames come out in order. A header announcing a
// body longer than the limit makes the stream unusable (the peer is broken
// or hostile): the reader says so and takes nothing more, so a connection
// never holds more than one frame's worth of the limit.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "wire/MessageFrame.h"

namespace tavero::wire {

class FrameReader {
 public:
  explicit FrameReader(size_t maxBodySize = MessageFrame::kMaxBodySize) : maxBodySize_(maxBodySize) {}

  // Adds bytes read from the stream. Ignored once the stream is broken.
  void append(std::string_view bytes);
  // The next whole frame, if one is there.
  std::optional<MessageFrame> next();
  // A frame announced a body over the limit.
  bool broken() const { return broken_; }
  // Bytes held that do not yet make a whole frame.
  size_t pendingBytes() const { return buffer_.size() - start_; }
  size_t maxBodySize() const { return maxBodySize_; }

 private:
  size_t maxBodySize_;
  std::string buffer_;
  size_t start_ = 0;  // where the unread bytes begin
  bool broken_ = false;
};

}  // namespace tavero::wire
