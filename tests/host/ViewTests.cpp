#include <gtest/gtest.h>

#include "host/TQViewController.h"
#include "host/TQViewManager.h"
#include "support/RecordingWebView.h"

namespace tavero::host {
namespace {

using testing::RecordingWebView;
using testing::RecordingWebViewHost;

PageDeviceInformation iPhone() {
  return {.platformName = "iPhone 4", .name = "Kim's phone", .uuid = "0123abcd", .scheme = std::nullopt};
}

class Views : public ::testing::Test {
 protected:
  RecordingWebViewHost host_;
  PageDeviceInformation information_ = iPhone();
  TQViewManager views_{host_, "/apps/My App/webapp", [this] { return information_; }};
  RecordingWebView& recorded(size_t i) { return *host_.created.at(i); }
};

TEST_F(Views, InformationScriptsAreTheGlobalsInOrderWithValuesEscaped) {
  auto scripts = TQWebView::informationScripts(iPhone());
  EXPECT_EQ(scripts, (std::vector<std::string>{
                         "window.device = {'OS':'iOS'};",
                         "window.__defineGetter__('isQL', function(){return true;});",
                         "window.device.__defineGetter__('platformName', function(){return 'iPhone 4';});",
                         "window.device.__defineGetter__('name', function(){return 'Kim\\'s phone';});",
                         "window.device.__defineGetter__('uuid', function(){return '0123abcd';});",
                     }));
  PageDeviceInformation opened = iPhone();
  opened.uuid.reset();
  opened.scheme = IncomingURLRecord{"myapp://x?a='b'", "com.example.mail"};
  scripts = TQWebView::informationScripts(opened);
  ASSERT_EQ(scripts.size(), 6u);
  EXPECT_EQ(scripts[4], "window.device.__defineGetter__('uuid', function(){return '(null)';});");
  EXPECT_EQ(scripts[5],
            "window.device.__defineGetter__('scheme', function(){return {url:'myapp://x?a=\\'b\\'', "
            "sourceApplication:'com.example.mail'};});");
}

TEST_F(Views, APageLoadsOnceAndGetsItsGlobalsAtDocumentStart) {
  TQWebView& view = views_.webViewForPage("index.html", true);
  ASSERT_EQ(host_.created.size(), 1u);
  EXPECT_EQ(recorded(0).loads, std::vector<std::string>{"file:///apps/My%20App/webapp/index.html"});
  EXPECT_EQ(recorded(0).documentStartScripts, TQWebView::informationScripts(information_));
  // Nothing is evaluated in the empty document that precedes the load.
  EXPECT_TRUE(recorded(0).evaluatedScripts.empty());

  EXPECT_EQ(&views_.webViewForPage("index.html", true), &view);
  EXPECT_EQ(host_.created.size(), 1u);
  EXPECT_EQ(recorded(0).loads.size(), 1u);
}

TEST_F(Views, EveryViewTellsThePageNameOfEachDocumentThatGoesAway) {
  std::vector<std::string> ended;
  views_.setDocumentEndedObserver([&](const std::string& page) { ended.push_back(page); });
  views_.webViewForPage("index.html", true);
  auto generated = views_.createUnregisteredWebView("generated");
  recorded(0).endDocument("file:///apps/My%20App/webapp/index.html?launch=1#top");
  recorded(1).endDocument("file:///apps/My%20App/webapp/");
  recorded(0).endDocument("file:///apps/My%20App/webapp/sub/other.html");
  EXPECT_EQ(ended, (std::vector<std::string>{"index.html", "webapp", "other.html"}));
}

TEST_F(Views, APageAskedForWithoutLoadingGetsAnEmptyRegisteredView) {
  TQWebView& view = views_.webViewForPage("other.html", false);
  EXPECT_TRUE(recorded(0).loads.empty());
  EXPECT_TRUE(recorded(0).documentStartScripts.empty());
  EXPECT_EQ(views_.existingWebView("other.html"), &view);
}

TEST_F(Views, TheLoadedFlagIsSetOnceAndTheOriginalDelegateHearsFinishedLoads) {
  TQWebView& view = views_.webViewForPage("index.html", true);
  int heard = 0;
  view.setOriginalDelegate([&](TQWebView& loaded) {
    EXPECT_TRUE(loaded.isLoaded());
    ++heard;
  });
  EXPECT_FALSE(view.isLoaded());
  recorded(0).finishLoad();
  recorded(0).finishLoad();
  EXPECT_TRUE(view.isLoaded());
  EXPECT_EQ(heard, 2);
}

TEST_F(Views, AnIncomingURLRedefinesTheGlobalsInLoadedViewsAtOnce) {
  views_.webViewForPage("index.html", true);
  views_.webViewForPage("second.html", true);
  recorded(0).finishLoad();
  information_.scheme = IncomingURLRecord{"myapp://open", "org.example.browser"};
  views_.updateApplicationScheme();
  auto expected = TQWebView::informationScripts(information_);
  EXPECT_EQ(recorded(0).evaluatedScripts, expected);       // loaded: now, and for later documents
  EXPECT_EQ(recorded(0).documentStartScripts, expected);
  EXPECT_TRUE(recorded(1).evaluatedScripts.empty());        // still loading: at its document start
  EXPECT_EQ(recorded(1).documentStartScripts, expected);
}

TEST(ViewController, AnswersRotationFromTheBundleList) {
  TQViewController portraitOnly({"UIInterfaceOrientationPortrait"});
  EXPECT_TRUE(portraitOnly.shouldAutorotateToInterfaceOrientation(1));
  for (int other : {2, 3, 4, 0, 5, -1}) EXPECT_FALSE(portraitOnly.shouldAutorotateToInterfaceOrientation(other));
  TQViewController landscape({"UIInterfaceOrientationLandscapeLeft", "UIInterfaceOrientationLandscapeRight"});
  EXPECT_TRUE(landscape.shouldAutorotateToInterfaceOrientation(3));
  EXPECT_TRUE(landscape.shouldAutorotateToInterfaceOrientation(4));
  EXPECT_FALSE(TQViewController({}).shouldAutorotateToInterfaceOrientation(1));
}

}  // namespace
}  // namespace tavero::host
