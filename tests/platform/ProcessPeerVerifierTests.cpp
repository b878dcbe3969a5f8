#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/ProcessPeerVerifier.h"

namespace tavero::platform {
namespace {

using boost::asio::ip::make_address;
using boost::asio::ip::tcp;

TEST(ProcessPeerVerifier, FindsTheSocketOfAConnectionInTheKernelTable) {
  // Two connections to port 3000 (0x0BB8) from 127.0.0.1:45678 (0xB26E) and :45679.
  const char* table =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:0BB8 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1111 1 0\n"
      "   1: 0100007F:B26E 0100007F:0BB8 01 00000000:00000000 00:00000000 00000000  1000        0 2222 1 0\n"
      "   2: 0100007F:B26F 0100007F:0BB8 01 00000000:00000000 00:00000000 00000000  1000        0 3333 1 0\n";
  tcp::endpoint bridge(make_address("127.0.0.1"), 3000);
  EXPECT_EQ(ProcessPeerVerifier::socketInode(table, {make_address("127.0.0.1"), 45678}, bridge), 2222u);
  EXPECT_EQ(ProcessPeerVerifier::socketInode(table, {make_address("127.0.0.1"), 45679}, bridge), 3333u);
  EXPECT_FALSE(ProcessPeerVerifier::socketInode(table, {make_address("127.0.0.1"), 1}, bridge));

  const char* table6 =
      "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
      "tm->when retrnsmt   uid  timeout inode\n"
      "   0: 00000000000000000000000001000000:B26E 00000000000000000000000001000000:0BB8 01 00000000:00000000 "
      "00:00000000 00000000     0        0 4444 1 0\n";
  EXPECT_EQ(ProcessPeerVerifier::socketInode(table6, {make_address("::1"), 45678}, {make_address("::1"), 3000}),
            4444u);
}

TEST(ProcessPeerVerifier, ChildrenAreDescendantsAndTheShellItselfIsNot) {
  pid_t child = ::fork();
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  ProcessPeerVerifier verifier;
  auto below = verifier.descendants(::getpid());
  EXPECT_TRUE(below.count(child));
  EXPECT_FALSE(below.count(::getpid()));
  EXPECT_FALSE(verifier.descendants(child).count(::getpid()));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace tavero::platform
