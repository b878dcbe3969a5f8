#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/LoopbackListeners.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

// Port 5173 is 0x1435: user 1000 listens on 127.0.0.1, user 1001 has a
// connection from that port (not listening), and user 0 listens on 5174.
constexpr const char* kTable =
    "   0: 0100007F:1435 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 101 1\n"
    "   1: 0100007F:1435 0100007F:9C40 01 00000000:00000000 00:00000000 00000000  1001        0 102 1\n"
    "   2: 00000000:1436 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 103 1\n"
    "   3: garbled line\n";

TEST(LoopbackListeners, OnlyListeningSocketsOfThePortCount) {
  const std::string table = std::string(kHeader) + kTable;
  EXPECT_EQ(listenerOwners(table, 5173), std::vector<uid_t>{1000});
  EXPECT_EQ(listenerOwners(table, 5174), std::vector<uid_t>{0});
  EXPECT_TRUE(listenerOwners(table, 80).empty());
  EXPECT_TRUE(listenerOwners("", 5173).empty());
}

class LoopbackServerCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    proc_ = fs::temp_directory_path() / ("tavero-proc-" + std::to_string(::getpid()));
    fs::create_directories(proc_ / "net");
    std::ofstream(proc_ / "net/tcp") << kHeader << kTable;
  }
  void TearDown() override { fs::remove_all(proc_); }
  fs::path proc_;
};

TEST_F(LoopbackServerCheck, TheUsersOwnServerPassesAndAnyOtherOwnerOrNoneIsRefused) {
  EXPECT_EQ(refusalOfLoopbackServer(5173, 1000, proc_), std::nullopt);
  auto other = refusalOfLoopbackServer(5173, 1002, proc_);
  ASSERT_TRUE(other);
  EXPECT_NE(other->find("held by another user (uid 1000)"), std::string::npos) << *other;
  auto none = refusalOfLoopbackServer(8080, 1000, proc_);
  ASSERT_TRUE(none);
  EXPECT_NE(none->find("nothing listens on port 8080"), std::string::npos) << *none;

  // Another user listening on the same port over IPv6 (::) spoils it too.
  std::ofstream(proc_ / "net/tcp6") << kHeader
                                    << "   0: 00000000000000000000000000000000:1435 "
                                       "00000000000000000000000000000000:0000 0A 00000000:00000000 "
                                       "00:00000000 00000000  1003        0 104 1\n";
  EXPECT_TRUE(refusalOfLoopbackServer(5173, 1000, proc_));
}

}  // namespace
}  // namespace tavero::platform
