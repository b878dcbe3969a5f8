#include <gtest/gtest.h>

#include "host/CallbackScript.h"
#include "host/ScriptCallbackDelivery.h"

namespace tavero::host {
namespace {

TEST(CallbackScript, WrapsTheValueInAOneElementArray) {
  json::Object value;
  value.append("id", 5);
  EXPECT_EQ(callbackScript(12, json::Value(std::move(value))),
            "Kio.device.Communicator.invoke('12', [{\n\t \"id\" : 5}])");
  EXPECT_EQ(callbackScript(-3, json::Value("it's \"quoted\"")),
            "Kio.device.Communicator.invoke('-3', [\"it's \\\"quoted\\\"\"])");
  EXPECT_EQ(callbackScript(0, json::Value()), "Kio.device.Communicator.invoke('0', [null])");
}

TEST(CallbackScript, AMissingValueReachesThePageAsTheEmptyString) {
  EXPECT_EQ(callbackScript(7, std::nullopt), "Kio.device.Communicator.invoke('7', [\"\"])");
}

TEST(ScriptCallbackDelivery, HandsThePageAndTheScriptToItsTarget) {
  std::vector<std::pair<std::string, std::string>> delivered;
  ScriptCallbackDelivery delivery([&](const std::string& page, const std::string& script) {
    delivered.emplace_back(page, script);
  });
  delivery.invokeCallback(1, json::Value(true), "index.html");
  delivery.invokeCallback(2, std::nullopt);
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0], std::make_pair(std::string("index.html"),
                                         std::string("Kio.device.Communicator.invoke('1', [true])")));
  EXPECT_EQ(delivered[1].first, "");
}

}  // namespace
}  // namespace tavero::host
