#include "bridge/ModuleRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavero::bridge {
namespace {

// Remembers which pages it was told about.
class PageWatcher : public TQW3CAction {
 public:
  explicit PageWatcher(int& made) { ++made; }
  void pageDocumentEnded(std::string_view pageName) override { endedPages.emplace_back(pageName); }
  std::vector<std::string> endedPages;
};

TEST(ModuleRegistry, OnlyModulesAlreadyMadeHearThatAPageWentAwayAndNoneIsMadeForIt) {
  ModuleRegistry modules;
  int made = 0;
  modules.add("TQUsed", [&] { return std::make_unique<PageWatcher>(made); });
  modules.add("TQUnused", [&] { return std::make_unique<PageWatcher>(made); });
  modules.add("TQPlain", [] { return std::make_unique<TQW3CAction>(); });
  auto* used = static_cast<PageWatcher*>(modules.sharedInstance("TQUsed"));
  modules.sharedInstance("TQPlain");  // the contract's own hook does nothing

  modules.pageDocumentEnded("index.html");
  modules.pageDocumentEnded("other.html");
  EXPECT_EQ(used->endedPages, (std::vector<std::string>{"index.html", "other.html"}));
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(static_cast<PageWatcher*>(modules.sharedInstance("TQUnused"))->endedPages.empty());
}

}  // namespace
}  // namespace tavero::bridge
