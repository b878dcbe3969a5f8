// An app loaded from a development server on loopback (--dev-server): its
// page and frames of its own origin get the page client and call services;
// a frame from another loopback port gets nothing and is refused.
#include <map>
#include <mutex>

#include "app/DevelopmentServer.h"
#include "e2e/EndToEndFixture.h"
#include "net/HTTPServer.h"
#include "net/QLWorkerThread.h"

namespace tavero::app::e2e {
namespace {

// A loopback HTTP server on a free port: serves fixed pages by path and
// records what they report (GET /report?key=value, sent as images, so they
// need no CORS). It stops with the object.
class LoopbackSite : private net::HTTPConnectionDelegate {
 public:
  LoopbackSite() {
    worker_.performAndWait([&] {
      server_.setConnectionDelegate(this);
      return server_.start();
    });
  }
  ~LoopbackSite() {
    worker_.performAndWait([&] {
      server_.stop();
      server_.closeAllConnections();
      server_.setConnectionDelegate(nullptr);
    });
  }

  std::string origin() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
  void serve(const std::string& path, std::string html) {
    std::lock_guard lock(mutex_);
    pages_[path] = std::move(html);
  }
  std::optional<std::string> report(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto it = reports_.find(key);
    return it == reports_.end() ? std::nullopt : std::optional(it->second);
  }

 private:
  void didReceiveRequest(net::HTTPConnection&, const std::shared_ptr<net::HTTPServerRequest>& request) override {
    const std::string target(request->request().target());
    std::lock_guard lock(mutex_);
    if (target.starts_with("/report?")) {
      const std::string piece = target.substr(8);
      const size_t eq = piece.find('=');
      reports_[piece.substr(0, eq)] = eq == std::string::npos ? "" : decoded(piece.substr(eq + 1));
      request->setResponse(net::makeHTTPResponse(net::HTTPStatus::no_content));
      return;
    }
    auto page = pages_.find(target);
    if (page == pages_.end()) {
      request->setResponse(net::makeHTTPResponse(net::HTTPStatus::not_found));
      return;
    }
    auto response = net::makeHTTPResponse(net::HTTPStatus::ok, page->second);
    response.set(boost::beast::http::field::content_type, "text/html");
    request->setResponse(std::move(response));
  }

  static std::string decoded(const std::string& text) {
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
  std::mutex mutex_;  // guards pages_ and reports_
  std::map<std::string, std::string> pages_;
  std::map<std::string, std::string> reports_;
};

// What every page and frame reports first: which of the shell's globals it
// sees, and what the shell's channel says to a message without the token.
constexpr const char* kReportScript = R"(
  const who = location.pathname === '/' ? 'page.' : 'frame.';
  const report = (key, value) => { new Image().src = '/report?' + who + key + '=' + encodeURIComponent(String(value)); };
  report('globals', [typeof window.__taveroBridge, typeof window.Kio, typeof window.device].join());
  const handlers = window.webkit && window.webkit.messageHandlers;
  if (handlers && handlers.tavero)
    handlers.tavero.postMessage(JSON.stringify({token: '', calls: [{command: 'Probe#echo', args: {value: 'x'}}]}))
      .then(() => report('channel', 'answered'), () => report('channel', 'refused'));
  else
    report('channel', 'absent');
)";

std::string appPage(const std::string& otherOrigin) {
  return std::string("<!DOCTYPE html><html><body><script>") + kReportScript + R"(
    Kio.device.Communicator.send('Probe#echo', {value: 'hello', success: (answer) => report('echo', answer.value + ' from ' + answer.page)});
    // Synchronous calls go over HTTP, from the server's origin.
    try {
      Kio.device.Communicator.sendSync('Probe#verdict', {verdict: {sync: 'over HTTP'}});
      report('sync', 'answered');
    } catch (e) {
      report('sync', 'failed: ' + e);
    }
  </script><iframe src="/inner.html"></iframe><iframe src=")" + otherOrigin + R"(/frame.html"></iframe></body></html>)";
}

std::string framePage() { return std::string("<!DOCTYPE html><html><body><script>") + kReportScript + "</script></body></html>"; }

using DevelopmentServerEndToEnd = EndToEndTest;

TEST_F(DevelopmentServerEndToEnd, ItsOriginGetsThePageClientAndAnotherLoopbackPortGetsNothing) {
  LoopbackSite server, other;
  server.serve("/", appPage(other.origin()));
  server.serve("/inner.html", framePage());
  other.serve("/frame.html", framePage());
  auto development = developmentServerFromURL(server.origin() + "/");
  ASSERT_TRUE(std::holds_alternative<DevelopmentServer>(development));

  auto shell = makeShell("bridge-app", [&](ShellApplication::Settings& settings) {
    settings.developmentServer = std::get<DevelopmentServer>(development);
  });
  ASSERT_TRUE(shell->launch());
  ASSERT_TRUE(serveUntil(*shell, [&] {
    return server.report("page.echo") && server.report("page.channel") && server.report("frame.channel") &&
           other.report("frame.globals") && other.report("frame.channel");
  })) << "the pages never reported";

  EXPECT_EQ(server.report("page.echo"), "hello from " + server.origin().substr(7));
  EXPECT_EQ(server.report("page.sync"), "answered");
  ASSERT_TRUE(probe_ && probe_->verdict());
  EXPECT_EQ(text(*probe_->verdict()), R"({ "sync" : "over HTTP"})");
  EXPECT_EQ(server.report("page.globals"), "object,object,object");
  // A frame of the app's own origin has the client (the page globals are
  // the top document's, as in a bundle's file frames).
  EXPECT_EQ(server.report("frame.globals"), "object,object,undefined");
  // The token-less message of each is refused all the same.
  EXPECT_EQ(server.report("frame.channel"), "refused");
  EXPECT_EQ(other.report("frame.globals"), "undefined,undefined,undefined");
  EXPECT_EQ(other.report("frame.channel"), "refused");
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
