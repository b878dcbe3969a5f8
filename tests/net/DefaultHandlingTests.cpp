#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "net/HttpServerHarness.h"
#include "support/LoopbackClient.h"

namespace tavero::net {
namespace {

namespace fs = std::filesystem;
using testing::HttpAnswer;
using testing::LoopbackClient;

class DefaultHandling : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("tavero-docroot-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_ / "root" / "sub");
    write(base_ / "root" / "index.html", "<p>hello</p>");
    write(base_ / "root" / "sub" / "a b.txt", "spaced");
    write(base_ / "secret.txt", "outside");
    fs::create_symlink(base_ / "secret.txt", base_ / "root" / "link-out");
    server_.worker().performAndWait([&] { server_.server().setDocumentRoot(base_ / "root"); });
  }
  void TearDown() override { fs::remove_all(base_); }

  static void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

  HttpAnswer ask(const std::string& requestLine, bool head = false) {
    LoopbackClient client(server_.port());
    client.send(requestLine + "\r\nHost: 127.0.0.1\r\n\r\n");
    auto answer = client.readAnswer(head);
    return answer ? *answer : HttpAnswer{};
  }

  fs::path base_;
  HttpServerHarness server_{nullptr};
};

TEST_F(DefaultHandling, GetAndHeadServeFilesInsideTheRoot) {
  auto get = ask("GET /index.html HTTP/1.1");
  EXPECT_EQ(get.status, 200);
  EXPECT_EQ(get.body, "<p>hello</p>");

  auto head = ask("HEAD /index.html HTTP/1.1", true);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("content-length"), "12");
  EXPECT_EQ(head.raw.find("hello"), std::string::npos);

  EXPECT_EQ(ask("GET /sub/a%20b.txt?x=1 HTTP/1.1").body, "spaced");
}

TEST_F(DefaultHandling, VersionsOtherThan11AndOtherMethodsAreRefused) {
  auto old = ask("GET /index.html HTTP/1.0");
  EXPECT_EQ(old.status, 505);
  EXPECT_EQ(old.version, 10u);
  EXPECT_EQ(ask("PUT /index.html HTTP/1.1").status, 405);
  EXPECT_EQ(ask("GET /missing HTTP/1.1").status, 404);
  EXPECT_EQ(ask("GET /sub HTTP/1.1").status, 404);  // a folder is not a file
}

TEST_F(DefaultHandling, NothingOutsideTheRootIsServed) {
  for (const char* target : {"/../secret.txt", "/sub/../../secret.txt", "/%2e%2e/secret.txt",
                             "/%2E%2E%2fsecret.txt", "/link-out", "/index.html%00.txt"}) {
    SCOPED_TRACE(target);
    auto answer = ask(std::string("GET ") + target + " HTTP/1.1");
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body.find("outside"), std::string::npos);
  }
}

}  // namespace
}  // namespace tavero::net
