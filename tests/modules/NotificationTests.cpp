#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <variant>

#include "modules/RecordingCallbacks.h"
#include "modules/TextCase.h"
#include "modules/TQNotification.h"
#include "platform/sim/RecordingVibrator.h"
#include "support/QueueMainThread.h"

namespace tavero::modules {
namespace {

using test::RecordingCallbacks;

// Keeps the alerts it is asked to show; the test presses their buttons.
class FakeAlerts : public platform::AlertPresenter {
 public:
  void showAlert(platform::AlertRequest alert, std::function<void(int)> onPressed) override {
    shown.push_back({std::move(alert), std::move(onPressed)});
  }
  struct Shown {
    platform::AlertRequest request;
    std::function<void(int)> press;
  };
  std::vector<Shown> shown;
};

class Notification : public ::testing::Test {
 protected:
  // Runs `show` on a bridge thread while this (main) thread serves it.
  void show(test::Arguments arguments) {
    std::atomic<bool> done{false};
    std::thread bridge([&] {
      test::call(module_, "show", arguments);
      done = true;
    });
    while (!done) {
      main_.runPending();
      std::this_thread::yield();
    }
    bridge.join();
  }

  tavero::testing::QueueMainThread main_;
  RecordingCallbacks callbacks_;
  FakeAlerts alerts_;
  platform::RecordingVibrator vibrator_;
  TQNotification module_{callbacks_, &main_, &alerts_, &vibrator_};
};

TEST(ButtonTitles, AreSplitAtEveryCommaWithNothingTrimmedOrDropped) {
  using Titles = std::vector<std::string>;
  EXPECT_EQ(TQNotification::buttonTitles("Yes,No"), (Titles{"Yes", "No"}));
  EXPECT_EQ(TQNotification::buttonTitles("A, B"), (Titles{"A", " B"}));
  EXPECT_EQ(TQNotification::buttonTitles(""), (Titles{""}));
  EXPECT_EQ(TQNotification::buttonTitles(",x,"), (Titles{"", "x", ""}));
}

TEST_F(Notification, ThePressedTitleArrivesLowerCasedWithItsSpacesInTheStartPage) {
  show({{"title", "Choose"}, {"message", "one"}, {"buttons", "A, B"}, {"callback", "9"},
        {"__source", "file:///app/other.html"}});
  ASSERT_EQ(alerts_.shown.size(), 1u);
  EXPECT_EQ(alerts_.shown[0].request.title, "Choose");
  EXPECT_EQ(alerts_.shown[0].request.buttons, (std::vector<std::string>{"A", " B"}));
  alerts_.shown[0].press(1);
  EXPECT_EQ(callbacks_.take(), (std::vector<RecordingCallbacks::Delivery>{{9, json::Value(" b"), ""}}));
}

TEST(ButtonTitles, FromAJSONListKeepCommasAndAreRefusedWhenNotOneToSixteenTexts) {
  using Titles = std::vector<std::string>;
  json::Value list(json::Array{"OK, fine", "", " No"});
  auto titles = TQNotification::titlesFromList(&list);
  ASSERT_TRUE(std::holds_alternative<Titles>(titles));
  EXPECT_EQ(std::get<Titles>(titles), (Titles{"OK, fine", "", " No"}));

  json::Object object;
  object.append("a", "b");
  json::Array seventeen;
  for (int i = 0; i < 17; ++i) seventeen.push_back(json::Value(std::to_string(i)));
  const json::Value refused[] = {json::Value(json::Array{}), json::Value(json::Array{json::Value(int64_t{1})}),
                                 json::Value(json::Array{json::Value("a"), json::Value()}), json::Value(object),
                                 json::Value("OK"), json::Value(seventeen)};
  for (const auto& value : refused)
    EXPECT_TRUE(std::holds_alternative<std::string>(TQNotification::titlesFromList(&value)))
        << json::JsonCodec::jsonStringForValue(value);
  EXPECT_TRUE(std::holds_alternative<std::string>(TQNotification::titlesFromList(nullptr)));
}

TEST_F(Notification, AnAlertWithAListOfTitlesKeepsCommasAndAnswersTheIndexAndExactTitle) {
  show({{"title", "Choose"}, {"buttonTitles", json::Value(json::Array{"OK, fine", "Not Now"})},
        {"buttons", "ignored,when,a,list,is,there"}, {"callback", "5"}, {"failure", "6"}});
  ASSERT_EQ(alerts_.shown.size(), 1u);
  EXPECT_EQ(alerts_.shown[0].request.buttons, (std::vector<std::string>{"OK, fine", "Not Now"}));
  alerts_.shown[0].press(1);
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 5);
  ASSERT_TRUE(delivered[0].value && delivered[0].value->isObject());
  const json::Object& pressed = delivered[0].value->asObject();
  EXPECT_EQ(*pressed.find("index"), json::Value(int64_t{1}));
  EXPECT_EQ(*pressed.find("title"), json::Value("Not Now"));
  EXPECT_EQ(*pressed.find("button"), json::Value("not now"));
}

TEST_F(Notification, ABadListIsRefusedThroughTheFailureCallbackAndShowsNothing) {
  show({{"buttonTitles", json::Value("OK,Cancel")}, {"callback", "5"}, {"failure", "6"},
        {"__source", "file:///app/other.html"}});
  show({{"buttonTitles", json::Value("x")}, {"callback", "5"}});  // no failure callback: nothing to answer
  EXPECT_TRUE(alerts_.shown.empty());
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 6);
  EXPECT_EQ(delivered[0].value, json::Value("Refused: buttonTitles must be a JSON array of texts"));
  EXPECT_EQ(delivered[0].page, "other.html");  // the page that asked hears its refusal
}

TEST_F(Notification, TwoOpenAlertsReportUnderTheLatestId) {
  show({{"buttons", "OK,Cancel"}, {"callback", "3"}});
  show({{"buttons", "Yes,No"}, {"callback", "4"}});
  alerts_.shown[0].press(1);
  alerts_.shown[1].press(0);
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].id, 4);
  EXPECT_EQ(delivered[0].value, json::Value("cancel"));
  EXPECT_EQ(delivered[1].id, 4);
  EXPECT_EQ(delivered[1].value, json::Value("yes"));
}

TEST_F(Notification, AnAlertWithoutButtonsGetsAnOKButtonSoItCanBeDismissed) {
  show({{"title", "Saved"}});
  show({{"title", "Empty text"}, {"buttons", ""}});
  ASSERT_EQ(alerts_.shown.size(), 2u);
  EXPECT_EQ(alerts_.shown[0].request.buttons, (std::vector<std::string>{"OK"}));
  EXPECT_EQ(alerts_.shown[1].request.buttons, (std::vector<std::string>{""}));
}

TEST_F(Notification, VibrateIsRecordedAndAnswersNothing) {
  test::call(module_, "vibrate");
  EXPECT_EQ(vibrator_.vibrations().size(), 1u);
  EXPECT_TRUE(callbacks_.take().empty());
  EXPECT_EQ(main_.runPending(), 0);
}

TEST_F(Notification, AShellWithoutAWindowShowsNothingAndDoesNotBlock) {
  TQNotification headless(callbacks_, nullptr, nullptr, nullptr);
  test::call(headless, "show", {{"title", "x"}, {"callback", "1"}});
  test::call(headless, "vibrate");
  EXPECT_TRUE(callbacks_.take().empty());
}

TEST(TextCase, LowerCasesEveryLetterAndKeepsWhatIsNotText) {
  EXPECT_EQ(lowercased("OK"), "ok");
  EXPECT_EQ(lowercased(" Discard"), " discard");
  EXPECT_EQ(lowercased("\xC3\x84NDERN"), "\xC3\xA4ndern");           // ÄNDERN
  EXPECT_EQ(lowercased("\xCE\x91\xCE\x92"), "\xCE\xB1\xCE\xB2");      // ΑΒ
  EXPECT_EQ(lowercased("\xF0\x9F\x98\x80 Go"), "\xF0\x9F\x98\x80 go");  // an emoji stays
  EXPECT_EQ(lowercased("A\xFF" "B"), "a\xFF" "b");                    // a stray byte stays
}

}  // namespace
}  // namespace tavero::modules
