// The frames of the native call socket cut from a byte stream that arrives
// in any pieces, and what a hostile or broken sender cannot do with them.
#include <gtest/gtest.h>

#include "wire/FrameReader.h"
#include "wire/MessageFrame.h"

namespace tavero::wire {
namespace {

TEST(MessageFrames, FramesComeOutWholeAndInOrderWhateverPiecesTheBytesArriveIn) {
  const std::string stream = MessageFrame::encode(1, 7, "{\"calls\":[]}") + MessageFrame::encode(2, 7, "") +
                             MessageFrame::encode(0xffffffff, 0xfffffffe, std::string(70000, 'x'));
  for (size_t piece : {size_t{1}, size_t{5}, size_t{12}, size_t{4096}, stream.size()}) {
    FrameReader reader;
    std::vector<MessageFrame> frames;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.append(std::string_view(stream).substr(at, piece));
      while (auto frame = reader.next()) frames.push_back(std::move(*frame));
    }
    ASSERT_EQ(frames.size(), 3u) << "pieces of " << piece;
    EXPECT_EQ(frames[0].id, 1u);
    EXPECT_EQ(frames[0].tag, 7u);
    EXPECT_EQ(frames[0].body, "{\"calls\":[]}");
    EXPECT_EQ(frames[1].body, "");  // an empty body is a frame too
    EXPECT_EQ(frames[2].id, 0xffffffffu);
    EXPECT_EQ(frames[2].tag, 0xfffffffeu);
    EXPECT_EQ(frames[2].body.size(), 70000u);
    EXPECT_EQ(reader.pendingBytes(), 0u);
    EXPECT_FALSE(reader.broken());
  }
}

TEST(MessageFrames, AHeaderAnnouncingMoreThanTheLimitBreaksTheStreamAtOnce) {
  FrameReader reader(1000);
  reader.append(MessageFrame::encode(1, 0, std::string(1000, 'a')));
  ASSERT_TRUE(reader.next());  // at the limit: fine
  // Only the header of a 4 GiB body: refused before any of it is awaited.
  std::string header = MessageFrame::encode(2, 0, std::string(1001, 'b')).substr(0, MessageFrame::kHeaderSize);
  reader.append(header);
  EXPECT_FALSE(reader.next());
  EXPECT_TRUE(reader.broken());
  EXPECT_EQ(reader.pendingBytes(), 0u);
  // Nothing more is taken, not even a good frame after it.
  reader.append(MessageFrame::encode(3, 0, "fine"));
  EXPECT_FALSE(reader.next());
  EXPECT_EQ(reader.pendingBytes(), 0u);

  FrameReader huge;
  huge.append(std::string("\xff\xff\xff\xff\0\0\0\1\0\0\0\0", 12));
  EXPECT_FALSE(huge.next());
  EXPECT_TRUE(huge.broken());
}

TEST(MessageFrames, AnUnfinishedFrameWaitsWithoutGivingAnything) {
  FrameReader reader;
  const std::string frame = MessageFrame::encode(9, 1, "body");
  reader.append(frame.substr(0, frame.size() - 1));
  EXPECT_FALSE(reader.next());
  EXPECT_FALSE(reader.broken());
  reader.append(frame.substr(frame.size() - 1));
  auto whole = reader.next();
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->body, "body");
}

}  // namespace
}  // namespace tavero::wire

namespace tavero::wire {
namespace {

std::string bigEndian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

TEST(BytesFrames, HeaderAndBytesComeBackAsSentAnyBytesIncluded) {
  const std::string bytes("\0\xff\xfe\x80 not UTF-8 \0", 15);
  const std::string body = MessageFrame::encodeBytesBody("{\"a\":1}", bytes);
  auto parts = MessageFrame::splitBytesBody(body);
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->header, "{\"a\":1}");
  EXPECT_EQ(parts->bytes, bytes);

  const std::string emptyBody = MessageFrame::encodeBytesBody("{}", "");
  auto empty = MessageFrame::splitBytesBody(emptyBody);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->header, "{}");
  EXPECT_TRUE(empty->bytes.empty());

  // Through the frame reader, as the shell gets it: the flag leaves the page number.
  FrameReader reader;
  reader.append(MessageFrame::encode(4, MessageFrame::kBytesFlag | 3, MessageFrame::encodeBytesBody("{}", bytes)));
  auto frame = reader.next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->tag & ~MessageFrame::kBytesFlag, 3u);
  auto fromFrame = MessageFrame::splitBytesBody(frame->body);
  ASSERT_TRUE(fromFrame);
  EXPECT_EQ(fromFrame->bytes, bytes);
}

TEST(BytesFrames, BodiesWhoseLengthsLieOrAreMissingAreRefused) {
  // Shorter than the length itself, or truncated inside it.
  EXPECT_FALSE(MessageFrame::splitBytesBody(""));
  EXPECT_FALSE(MessageFrame::splitBytesBody(std::string("\0\0\0", 3)));
  // Bytes without a header: length 0.
  EXPECT_FALSE(MessageFrame::splitBytesBody(bigEndian(0) + "raw bytes"));
  // A header longer than the body holds: truncated, or a length that lies.
  const std::string body = MessageFrame::encodeBytesBody("{\"k\":\"v\"}", "");
  EXPECT_FALSE(MessageFrame::splitBytesBody(body.substr(0, body.size() - 1)));
  EXPECT_FALSE(MessageFrame::splitBytesBody(bigEndian(10) + "{}"));
  // A huge announced length is refused, not read past the end.
  EXPECT_FALSE(MessageFrame::splitBytesBody(bigEndian(0xffffffff) + "{}"));
  // A header over its limit, even when the body holds it all.
  const std::string longHeader(MessageFrame::kMaxBytesHeaderSize + 1, ' ');
  EXPECT_FALSE(MessageFrame::splitBytesBody(MessageFrame::encodeBytesBody(longHeader, "")));
  EXPECT_TRUE(MessageFrame::splitBytesBody(MessageFrame::encodeBytesBody(longHeader.substr(1), "")));
}

TEST(BytesFrames, BytesOverTheLimitAreRefusedAndAtTheLimitTaken) {
  const std::string atLimit(MessageFrame::kMaxBytesSize, 'x');
  EXPECT_TRUE(MessageFrame::splitBytesBody(MessageFrame::encodeBytesBody("{}", atLimit)));
  EXPECT_FALSE(MessageFrame::splitBytesBody(MessageFrame::encodeBytesBody("{}", atLimit + "x")));
}

}  // namespace
}  // namespace tavero::wire
