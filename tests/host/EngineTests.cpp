#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "host/TQEngine.h"
#include "log/Log.h"
#include "platform/FileURL.h"
#include "support/CapturedLog.h"
#include "support/QueueMainThread.h"
#include "support/RecordingWebView.h"

namespace tavero::host {
namespace {

namespace fs = std::filesystem;
using testing::RecordingWebView;


// A bundle folder on disk: the engine looks for webapp/app.json there.
class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle_.path = fs::temp_directory_path() / ("tavero engine " + std::to_string(::getpid()));
    fs::remove_all(bundle_.path);
    fs::create_directories(bundle_.webappPath());
    views_ = std::make_unique<TQViewManager>(host_, bundle_.webappPath(), [] {
      return PageDeviceInformation{.platformName = "Linux desktop", .name = "box", .uuid = {}, .scheme = {}};
    });
  }
  void TearDown() override { fs::remove_all(bundle_.path); }

  void makePackagedApp() { std::ofstream(bundle_.webappPath() / "app.json") << "{}"; }

  TQEngine& engine() {
    if (!engine_) engine_ = std::make_unique<TQEngine>(main_, host_, *views_, bundle_);
    return *engine_;
  }
  RecordingWebView& recorded(const TQWebView* view) {
    for (auto* created : host_.created)
      if (&const_cast<TQWebView*>(view)->platformView() == created) return *created;
    throw std::runtime_error("not a recorded view");
  }

  platform::BundleInfo bundle_;
  testing::QueueMainThread main_;
  testing::RecordingWebViewHost host_;
  std::unique_ptr<TQViewManager> views_;
  std::unique_ptr<TQEngine> engine_;
};

TEST_F(Engine, APackagedAppWithoutIndexPageStartsAtIndexHtml) {
  makePackagedApp();
  engine().start();
  ASSERT_NE(engine().webEngineView(), nullptr);
  EXPECT_EQ(recorded(engine().webEngineView()).loads.at(0), platform::fileURLForPath(bundle_.webappPath() / "index.html"));
  ASSERT_EQ(engine().viewControllers().size(), 1u);
  EXPECT_EQ(engine().viewControllers().begin()->first, "index.html");
  EXPECT_EQ(host_.contentView, &engine().webEngineView()->platformView());
  EXPECT_TRUE(engine().isEngineWorking());
}

TEST_F(Engine, DeliveriesGoToTheNamedPageOrTheStartPageOnTheMainThread) {
  makePackagedApp();
  bundle_.indexPage = "pages/start.html";
  engine().start();
  TQWebView* start = engine().webEngineView();
  EXPECT_EQ(views_->existingWebView("pages/start.html"), start);

  std::thread([&] {
    engine().invokeCallback(4, json::Value("done"));
    engine().invokeCallback(-7, std::nullopt, "start.html");  // a page name without the folder
  }).join();
  EXPECT_TRUE(recorded(start).evaluatedScripts.empty());  // queued, not yet run
  main_.runPending();

  // The page name is the last path component of the page's location: it
  // reaches the start page in its folder, and no empty view is made.
  EXPECT_EQ(recorded(start).evaluatedScripts,
            (std::vector<std::string>{"Kio.device.Communicator.invoke('4', [\"done\"])",
                                      "Kio.device.Communicator.invoke('-7', [\"\"])"}));
  EXPECT_EQ(views_->existingWebView("start.html"), nullptr);
  engine().invokeCallback(5, json::Value(1), "nowhere.html");
  main_.runPending();
  EXPECT_EQ(views_->size(), 1u);
}

TEST_F(Engine, AReloadEndsEveryDocumentFirstAndDropsCallbacksMeantForTheOldOnes) {
  makePackagedApp();
  std::vector<std::string> ended;
  views_->setDocumentEndedObserver([&](const std::string& page) { ended.push_back(page); });
  engine().start();
  views_->webViewForPage("other.html", true);
  RecordingWebView& start = recorded(engine().webEngineView());

  std::thread([&] { engine().invokeCallback(1, json::Value("old")); }).join();  // queued for the old document
  engine().reloadPages();
  EXPECT_EQ(ended, (std::vector<std::string>{"index.html", "other.html"}));
  EXPECT_EQ(start.reloads, 1);
  engine().invokeCallback(2, json::Value("new"));
  main_.runPending();
  EXPECT_EQ(start.evaluatedScripts, (std::vector<std::string>{"Kio.device.Communicator.invoke('2', [\"new\"])"}));
}

TEST_F(Engine, TheGeneratedStartPageReloadsToo) {
  engine().start();
  engine().reloadPages();
  EXPECT_EQ(recorded(engine().webAppEngine()).reloads, 1);
}

TEST_F(Engine, ADevelopmentServerGivesTheStartPageAndItsRoutesCallbacks) {
  makePackagedApp();  // not used: the server's page is the start page
  engine().setDevelopmentServer("http://127.0.0.1:5173/");
  engine().start();
  RecordingWebView& start = recorded(engine().webEngineView());
  EXPECT_EQ(start.loads, (std::vector<std::string>{"http://127.0.0.1:5173/"}));
  EXPECT_FALSE(start.documentStartScripts.empty());  // the page globals
  EXPECT_EQ(host_.contentView, &start);

  // The app moves between routes in one document: "/settings" names the page "settings".
  engine().invokeCallback(3, json::Value(1), "settings");
  main_.runPending();
  EXPECT_EQ(start.evaluatedScripts, (std::vector<std::string>{"Kio.device.Communicator.invoke('3', [1])"}));
  EXPECT_EQ(views_->size(), 1u);
}

TEST_F(Engine, WithoutAppJsonTheGeneratedPageIsTheShownStartPage) {
  bundle_.path = "/var/My App.app";
  engine().start();
  TQWebView* generated = engine().webAppEngine();
  ASSERT_NE(generated, nullptr);
  EXPECT_EQ(recorded(generated).loadedHTML, TQEngine::kGeneratedStartPage);
  EXPECT_EQ(recorded(generated).loads.at(0), "file:///var//My%20App.app/webapp//");
  EXPECT_FALSE(recorded(generated).documentStartScripts.empty());
  EXPECT_EQ(engine().webEngineView(), generated);
  EXPECT_EQ(host_.contentView, &generated->platformView());

  engine().invokeCallback(1, json::Value(true));
  main_.runPending();
  EXPECT_EQ(recorded(generated).evaluatedScripts.back(), "Kio.device.Communicator.invoke('1', [true])");
}

TEST_F(Engine, TheLaunchWaitServesTheLoopUntilTheStartPageLoadsAndIsBounded) {
  makePackagedApp();
  engine().start();
  main_.onRunFor = [&](std::chrono::milliseconds) {
    if (main_.runForCalls == 3) recorded(engine().webEngineView()).finishLoad();
  };
  EXPECT_TRUE(engine().waitForWebViewToLoad());
  EXPECT_EQ(main_.runForCalls, 3);

  EXPECT_TRUE(engine().waitForWebViewToLoad());  // loaded: returns without serving the loop
  EXPECT_EQ(main_.runForCalls, 3);
}

TEST_F(Engine, AStartPageThatNeverLoadsEndsTheWaitAtItsBound) {
  makePackagedApp();
  engine().start();
  EXPECT_FALSE(engine().waitForWebViewToLoad(std::chrono::milliseconds(0)));
  EXPECT_EQ(engine().startPageLoad(), TQEngine::StartPageLoad::TimedOut);
}

TEST_F(Engine, AFailedStartPageEndsTheWaitNamingTheFileAndAnErrorPageIsNoLoad) {
  testing::CapturedLog log;
  makePackagedApp();
  bundle_.indexPage = "strat.html";
  engine().start();
  RecordingWebView& view = recorded(engine().webEngineView());
  main_.onRunFor = [&](std::chrono::milliseconds) {
    if (main_.runForCalls == 2) view.failLoad(view.loads.at(0), "No such file or directory");
  };
  EXPECT_FALSE(engine().waitForWebViewToLoad());
  EXPECT_EQ(main_.runForCalls, 2);
  EXPECT_EQ(engine().startPageLoad(), TQEngine::StartPageLoad::Failed);
  std::string named = "\"" + (bundle_.webappPath() / "strat.html").string() + "\" could not be loaded";
  EXPECT_TRUE(log.has(named)) << log.all();
  EXPECT_TRUE(log.has("(there is no such file; Info.plist IndexPage names it): No such file or directory")) << log.all();

  // A later successful load of the page (say the developer added the file
  // and reloaded) is a load again.
  view.finishLoad();
  EXPECT_TRUE(engine().waitForWebViewToLoad());
  EXPECT_EQ(engine().startPageLoad(), TQEngine::StartPageLoad::Loaded);
}

TEST_F(Engine, AnAbandonedWaitEndsAtTheNextSlice) {
  makePackagedApp();
  engine().start();
  main_.onRunFor = [&](std::chrono::milliseconds) { engine().abandonLaunchWait(); };
  EXPECT_FALSE(engine().waitForWebViewToLoad());
  EXPECT_EQ(main_.runForCalls, 1);
  EXPECT_EQ(engine().startPageLoad(), TQEngine::StartPageLoad::Abandoned);
}

TEST_F(Engine, TheLogSaysWhichStartModeWasChosenAndWhy) {
  {
    testing::CapturedLog log;
    std::ofstream(bundle_.webappPath() / "index.html") << "<p>";
    std::ofstream(bundle_.webappPath() / "app.js") << "";
    engine().start();
    EXPECT_TRUE(log.has("there is no webapp/app.json")) << log.all();
    EXPECT_TRUE(log.has("webapp/core.min.js is missing")) << log.all();
    EXPECT_FALSE(log.has("webapp/app.js is missing")) << log.all();
    EXPECT_TRUE(log.has("webapp/index.html is not used: add webapp/app.json")) << log.all();
  }
  engine_.reset();
  testing::CapturedLog log;
  makePackagedApp();
  engine().start();
  EXPECT_TRUE(log.has("webapp/app.json is there, so the start page is webapp/index.html")) << log.all();
}

TEST(EngineBaseURL, SlashesDoubleAndSpacesAreEscaped) {
  EXPECT_EQ(TQEngine::generatedPageBaseURL("/var/My App.app"), "file:///var//My%20App.app/webapp//");
}

}  // namespace
}  // namespace tavero::host
