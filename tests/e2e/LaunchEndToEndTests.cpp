// First contact in the real web view: what a developer sees when a page's
// files are missing, and cookies that outlive the shell.
#include <algorithm>
#include <fstream>
#include <mutex>
#include <vector>

#include "e2e/EndToEndFixture.h"
#include "log/Log.h"
#include "net/HTTPServer.h"
#include "net/QLWorkerThread.h"
#include "support/CapturedLog.h"

namespace tavero::app::e2e {
namespace {

// A web server on a free loopback port, standing for the server an app
// talks to: "/set" sets a cookie, "/check" notes the cookies it was sent.
class CookieServer : public net::HTTPConnectionDelegate {
 public:
  CookieServer() {
    worker_.performAndWait([&] {
      server_.setConnectionDelegate(this);
      return server_.start();
    });
  }
  ~CookieServer() override {
    worker_.performAndWait([&] {
      server_.stop();
      server_.closeAllConnections();
    });
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }

  void didReceiveRequest(net::HTTPConnection&, const std::shared_ptr<net::HTTPServerRequest>& request) override {
    const auto& message = request->request();
    std::string target(message.target());
    auto answer = net::makeHTTPResponse(net::HTTPStatus::ok, "ok");
    if (target == "/set") answer.set(boost::beast::http::field::set_cookie, "taste=oatmeal; Max-Age=3600; Path=/");
    if (target == "/check") {
      std::lock_guard lock(mutex_);
      cookiesAtChecks_.emplace_back(message[boost::beast::http::field::cookie]);
    }
    request->setResponse(std::move(answer));
  }

  std::vector<std::string> cookiesAtChecks() {
    std::lock_guard lock(mutex_);
    return cookiesAtChecks_;
  }

 private:
  net::QLWorkerThread worker_;
  net::HTTPServer server_{worker_.context()};
  std::mutex mutex_;  // guards cookiesAtChecks_
  std::vector<std::string> cookiesAtChecks_;
};

// Tells the page where the cookie server is: "LaunchProbe#cookieServer".
class TQLaunchProbe : public bridge::TQW3CAction {
 public:
  explicit TQLaunchProbe(std::string serverURL) {
    addOperation("cookieServer", [serverURL](bridge::Invocation& call) { call.setResult(json::Value(serverURL)); });
  }
};


using LaunchEndToEnd = EndToEndTest;

TEST_F(LaunchEndToEnd, ACookieASiteSetIsSentAgainAfterTheShellIsMadeAgainOnTheSameHome) {
  CookieServer server;
  auto withLaunchProbe = [&](ShellApplication::Settings& settings) {
    auto probe = settings.extraModules;
    settings.extraModules = [probe, url = server.url()](bridge::ModuleRegistry& modules,
                                                        bridge::CallbackDelivery& callbacks) {
      probe(modules, callbacks);
      modules.add("TQLaunchProbe", [url] { return std::make_unique<TQLaunchProbe>(url); });
    };
  };
  for (int launch = 1; launch <= 2; ++launch) {
    probe_ = nullptr;
    auto shell = makeShell("cookie-app", withLaunchProbe);
    ASSERT_TRUE(shell->launch());
    auto verdict = waitForVerdict(*shell);
    ASSERT_TRUE(verdict) << "the page never reported (launch " << launch << ")";
    expectAllTrue(*verdict, {"done"});
    shell->terminate();
  }
  auto checks = server.cookiesAtChecks();
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[0], "");
  EXPECT_EQ(checks[1], "taste=oatmeal");
  EXPECT_TRUE(fs::exists(platform::HomeFolders{home_}.webData() / "cookies.sqlite"));
}

TEST_F(LaunchEndToEnd, EverySubresourceThatFailsToLoadIsLoggedWithItsURL) {
  testing::CapturedLog log;
  auto shell = makeShell("broken-app");
  ASSERT_TRUE(shell->launch());  // missing subresources do not fail the page
  ASSERT_TRUE(waitForVerdict(*shell));
  fs::path webapp = fs::path(TAVERO_E2E_DIR) / "broken-app" / "webapp";
  // The image may still be on its way when the page reports.
  ASSERT_TRUE(serveUntil(*shell, [&] { return log.has("pictures/logo.png"); })) << log.all();
  for (const char* file : {"websq1.js", "styles/missing.css", "pictures/logo.png?..."}) {
    EXPECT_TRUE(log.has("page index.html: could not load file://" + (webapp / file).string())) << file << "\n"
                                                                                                << log.all();
  }
  EXPECT_FALSE(log.has("secret")) << "a query was logged";
  shell->terminate();
}

TEST_F(LaunchEndToEnd, AStartPageThatCannotLoadEndsTheLaunchAtOnceNamingTheFile) {
  testing::CapturedLog log;
  fs::path bundle = home_.string() + "-bundle";
  fs::create_directories(bundle / "webapp");
  std::ofstream(bundle / "webapp" / "app.json") << "{}";
  std::ofstream(bundle / "Info.plist") << "<plist version=\"1.0\"><dict><key>IndexPage</key>"
                                          "<string>strat.html</string></dict></plist>";
  auto shell = makeShell(bundle.string());
  EXPECT_FALSE(shell->launch());
  EXPECT_EQ(shell->engine().startPageLoad(), host::TQEngine::StartPageLoad::Failed);
  EXPECT_TRUE(log.has("the start page \"" + (bundle / "webapp" / "strat.html").string() + "\" could not be loaded"))
      << log.all();
  // The error page the view shows instead (loaded by now) is not taken for the page.
  EXPECT_FALSE(shell->engine().webEngineView()->isLoaded());
  shell->terminate();
  fs::remove_all(bundle);
}

}  // namespace
}  // namespace tavero::app::e2e
