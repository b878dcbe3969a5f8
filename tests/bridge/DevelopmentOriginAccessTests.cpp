// The bridge's origin check with a development server: exactly its origin
// joins the application's own pages, and still needs the page token.
#include <gtest/gtest.h>

#include "bridge/BridgeAccessPolicy.h"

namespace tavero::bridge {
namespace {

namespace http = boost::beast::http;

net::HTTPRequestMessage requestFrom(const std::string& origin, const std::string& token = "secret") {
  net::HTTPRequestMessage request{http::verb::get, "/?command=X%23y", 11};
  request.set(http::field::host, "127.0.0.1:3000");
  if (!origin.empty()) request.set(http::field::origin, origin);
  if (!token.empty()) request.set("X-Tavero-Token", token);
  return request;
}

TEST(DevelopmentOriginAccess, OnlyTheServersExactOriginWithTheTokenPasses) {
  const BridgeAccessPolicy policy(BridgeAccessPolicy::Clients::appPages, "secret", false, "http://127.0.0.1:5173");
  EXPECT_EQ(policy.refusal(requestFrom("http://127.0.0.1:5173"), 3000, std::nullopt), std::nullopt);
  EXPECT_EQ(policy.refusal(requestFrom("null"), 3000, std::nullopt), std::nullopt);  // file pages as before
  for (const char* origin : {"http://127.0.0.1:5174", "http://127.0.0.1", "https://127.0.0.1:5173",
                             "http://127.0.0.1:5173.example.com", "http://localhost:5173", "HTTP://127.0.0.1:5173"})
    EXPECT_TRUE(policy.refusal(requestFrom(origin), 3000, std::nullopt)) << origin;
  EXPECT_TRUE(policy.refusal(requestFrom("http://127.0.0.1:5173", ""), 3000, std::nullopt));
  EXPECT_TRUE(policy.refusal(requestFrom("http://127.0.0.1:5173", "wrong"), 3000, std::nullopt));

  const BridgeAccessPolicy withoutServer(BridgeAccessPolicy::Clients::appPages, "secret");
  EXPECT_TRUE(withoutServer.refusal(requestFrom("http://127.0.0.1:5173"), 3000, std::nullopt));
}

}  // namespace
}  // namespace tavero::bridge
