// Attacks on the bridge from inside the real web view: a web site shown in
// frames of the application's page (an ad, a login page) tries every road to
// the bridge, the page tries to read the user's files, and another program
// holds the port pages expect.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>

#include "e2e/EndToEndFixture.h"
#include "net/HTTPServer.h"
#include "net/QLWorkerThread.h"
#include "support/IPv6Squatter.h"
#include "support/LoopbackClient.h"

namespace tavero::app::e2e {
namespace {

// The web site: serves its attack page and records what the page reports
// (GET /report?key=value).
class WebSite : private net::HTTPConnectionDelegate {
 public:
  WebSite() {
    worker_.performAndWait([&] {
      server_.setConnectionDelegate(this);
      return server_.start();
    });
  }
  ~WebSite() {
    worker_.performAndWait([&] {
      server_.stop();
      server_.closeAllConnections();
      server_.setConnectionDelegate(nullptr);
    });
  }

  std::string address() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }

  // Every report of `key`, in arrival order.
  std::vector<std::string> reports(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto [first, last] = reports_.equal_range(key);
    std::vector<std::string> values;
    for (auto it = first; it != last; ++it) values.push_back(it->second);
    return values;
  }

 private:
  // Reports go out as images, so they need no CORS and work from sandboxed frames.
  static constexpr const char* kAttackPage = R"(<!DOCTYPE html><html><body><script>
    const query = new URLSearchParams(location.search);
    const frame = query.get('frame');
    const report = (key, value) => { new Image().src = '/report?' + frame + '.' + key + '=' + encodeURIComponent(String(value)); };
    report('globals', [typeof window.__taveroBridge, typeof window.Kio, typeof window.device].join());
    const command = 'http://127.0.0.1:' + query.get('bridge') + '/?command=Attack%23record&sync=true&from=';
    new Image().src = command + 'image';
    fetch(command + 'nocors', {mode: 'no-cors'}).catch(() => {});
    const read = fetch(command + 'cors').then((r) => r.text().then((t) => report('read', r.status + ' ' + t)),
                                              (e) => report('read', 'failed'));
    const handlers = window.webkit && window.webkit.messageHandlers;
    const channel = handlers && handlers.tavero
      ? handlers.tavero.postMessage(JSON.stringify({token: '', calls: [{command: 'Attack#record', sync: true, args: {from: 'channel'}}]}))
          .then((answer) => report('channel', 'answered ' + answer), (error) => report('channel', 'refused'))
      : Promise.resolve(report('channel', 'absent'));
    Promise.all([read, channel]).then(() => setTimeout(() => report('done', 'yes'), 300));
  </script></body></html>)";

  void didReceiveRequest(net::HTTPConnection&, const std::shared_ptr<net::HTTPServerRequest>& request) override {
    std::string target(request->request().target());
    if (target.starts_with("/report?")) {
      std::string piece = target.substr(8);
      size_t eq = piece.find('=');
      std::lock_guard lock(mutex_);
      reports_.emplace(piece.substr(0, eq), eq == std::string::npos ? "" : decode(piece.substr(eq + 1)));
      request->setResponse(net::makeHTTPResponse(net::HTTPStatus::no_content));
      return;
    }
    auto response = net::makeHTTPResponse(net::HTTPStatus::ok, kAttackPage);
    response.set(boost::beast::http::field::content_type, "text/html");
    request->setResponse(std::move(response));
  }

  static std::string decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '%' && i + 2 < text.size()) {
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  }

  net::QLWorkerThread worker_;
  net::HTTPServer server_{worker_.context()};
  std::mutex mutex_;
  std::multimap<std::string, std::string> reports_;
};

// What the attacked application offers: its web site's address, a record
// of every call that got through, and an echo.
class TQSite : public bridge::TQW3CAction {
 public:
  TQSite(std::string address, uint16_t squattedPort) {
    addOperation("address", [address](bridge::TQInvocation& call) { call.setResult(address); });
    addOperation("squatted", [squattedPort](bridge::TQInvocation& call) { call.setResult(int64_t{squattedPort}); });
    addOperation("echo", [](bridge::TQInvocation& call) { call.setResult(std::string(call.text("value"))); });
  }
};

class TQAttack : public bridge::TQW3CAction {
 public:
  explicit TQAttack(std::atomic<int>& calls) {
    addOperation("record", [&calls](bridge::TQInvocation&) { ++calls; });
  }
};

class BridgeSecurityEndToEnd : public EndToEndTest {
 protected:
  std::unique_ptr<ShellApplication> makeAttackedShell(const std::string& bundle, const std::string& site,
                                                      uint16_t port = 0) {
    return makeShell(bundle, [&, site, port](ShellApplication::Settings& settings) {
      settings.port = port;
      auto probe = settings.extraModules;
      settings.extraModules = [this, probe, site, port](bridge::ModuleRegistry& modules,
                                                        bridge::TQCallbackDelivery& callbacks) {
        probe(modules, callbacks);
        modules.add("TQSite", [site, port] { return std::make_unique<TQSite>(site, port); });
        modules.add("TQAttack", [this] { return std::make_unique<TQAttack>(attackCalls_); });
      };
    });
  }

  std::atomic<int> attackCalls_{0};
};

TEST_F(BridgeSecurityEndToEnd, AFramedWebSiteGetsNoCommandCarriedOutAndPagesReadOnlyTheirOwnFiles) {
  WebSite site;
  auto shell = makeAttackedShell("attack-app", site.address());
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  // Checks report as they finish, in any order.
  EXPECT_EQ(verdict->size(), 4u) << text(*verdict);
  expectAllTrue(*verdict, {"hasToken", "readsOwn"});
  for (const char* read : {"syncReadsEtc", "fetchesEtc"}) {
    const json::Value* value = verdict->find(read);
    EXPECT_TRUE(value && *value == json::Value(false)) << read << " in " << text(*verdict);
  }

  ASSERT_TRUE(serveUntil(*shell, [&] {
    return !site.reports("plain.done").empty() && !site.reports("sandboxed.done").empty();
  })) << "the web site's frames never finished";
  for (const char* frame : {"plain", "sandboxed"}) {
    const std::string name(frame);
    EXPECT_EQ(site.reports(name + ".globals"), std::vector<std::string>{"undefined,undefined,undefined"}) << frame;
    EXPECT_EQ(site.reports(name + ".channel"), std::vector<std::string>{"refused"}) << frame;
    // Refused without CORS consent: the site cannot even read the refusal.
    EXPECT_EQ(site.reports(name + ".read"), std::vector<std::string>{"failed"}) << frame;
  }
  EXPECT_EQ(attackCalls_.load(), 0);
  shell->terminate();
}

using testing::IPv6Squatter;

TEST_F(BridgeSecurityEndToEnd, APortAnotherProgramHoldsNeverSeesThePagesRequests) {
  IPv6Squatter squatter;
  if (!squatter.ok()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  auto shell = makeAttackedShell("squat-app", "", squatter.port());
  ASSERT_TRUE(shell->launch());
  EXPECT_NE(shell->bridge().port(), squatter.port());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  // The page's checks report as they finish, in any order.
  EXPECT_EQ(verdict->size(), 3u) << text(*verdict);
  expectAllTrue(*verdict, {"sendSync", "channel", "fixedPortBlocked"});
  EXPECT_FALSE(squatter.anyoneConnected());
  shell->terminate();
}

TEST_F(BridgeSecurityEndToEnd, AConnectionFloodBeforeLaunchLeavesTheAppWorking) {
  auto shell = makeAttackedShell("squat-app", "");
  const uint16_t port = shell->bridge().port();
  // Another program opens many connections and sends half a request on each.
  std::vector<std::unique_ptr<testing::LoopbackClient>> flood;
  for (int i = 0; i < 300; ++i) {
    flood.push_back(std::make_unique<testing::LoopbackClient>(port));
    flood.back()->send("GET /?command=Site%23echo HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n");
  }
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  // The page's checks report as they finish, in any order.
  EXPECT_EQ(verdict->size(), 3u) << text(*verdict);
  expectAllTrue(*verdict, {"sendSync", "channel", "fixedPortBlocked"});
  EXPECT_TRUE(flood.front()->waitForClose());  // refused peers are closed at once
  EXPECT_TRUE(flood.back()->waitForClose());
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
