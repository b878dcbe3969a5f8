#include "platform/linux/LazyAddressBook.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/linux/GdkPixbufImageProcessor.h"
#include "support/CapturedLog.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

class LazyAddressBookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-lazy-book-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    std::ofstream(folder_ / "a.vcf") << "BEGIN:VCARD\nVERSION:3.0\nUID:one\nN:Doe;Jane;;;\nEND:VCARD\n";
  }
  void TearDown() override { fs::remove_all(folder_); }

  LazyAddressBook::Options folderBook(fs::path module, AddressBookAccess access = AddressBookAccess::granted) {
    return {.kind = AddressBookKind::vCardFolder, .folder = folder_, .access = access, .module = std::move(module)};
  }

  static bool accessAnswer(AddressBook& book) {
    bool granted = true;
    book.requestAccess([&](bool answer) { granted = answer; });
    return granted;
  }

  fs::path folder_;
  GdkPixbufImageProcessor processor_;
};

TEST_F(LazyAddressBookTest, ReadsTheFolderThroughTheModuleFromAnyNumberOfThreads) {
  LazyAddressBook book(folderBook(TAVERO_TEST_ADDRESS_BOOK_MODULE), processor_);
  std::vector<size_t> counts(4);
  std::vector<std::thread> readers;
  for (size_t i = 0; i < counts.size(); ++i) readers.emplace_back([&, i] { counts[i] = book.people().size(); });
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(counts, std::vector<size_t>(4, 1u));
  auto read = book.readPeople();
  ASSERT_TRUE(std::holds_alternative<std::vector<Person>>(read));
  int32_t id = std::get<std::vector<Person>>(read).front().id;
  EXPECT_TRUE(book.person(id));
  EXPECT_TRUE(accessAnswer(book));
}

TEST_F(LazyAddressBookTest, TheAccessAnswerHoldsWhetherGivenBeforeOrAfterTheModuleLoads) {
  LazyAddressBook book(folderBook(TAVERO_TEST_ADDRESS_BOOK_MODULE), processor_);
  book.setAccess(AddressBookAccess::denied);  // before anything is loaded
  EXPECT_FALSE(accessAnswer(book));
  book.setAccess(AddressBookAccess::granted);
  EXPECT_TRUE(accessAnswer(book));
}

TEST_F(LazyAddressBookTest, TheModulesLogLinesReachTheProgramsLog) {
  testing::CapturedLog log;
  std::ofstream(folder_ / "plain-file") << "not a folder";
  LazyAddressBook book({.folder = folder_ / "plain-file", .module = TAVERO_TEST_ADDRESS_BOOK_MODULE}, processor_);
  EXPECT_TRUE(book.people().empty());
  EXPECT_TRUE(log.has("contacts: cannot read the folder " + (folder_ / "plain-file").string())) << log.all();
}

TEST_F(LazyAddressBookTest, WithoutAUsableModuleNobodyIsThereAccessIsDeniedAndTheLogSaysWhyOnce) {
  std::ofstream(folder_ / "not-a-module.so") << "text";
  struct Case {
    fs::path module;
    std::string why;
  };
  for (const auto& [module, why] : {Case{"", "is not installed beside tavero"},
                                    Case{folder_ / "missing.so", "cannot load the address book module"},
                                    Case{folder_ / "not-a-module.so", "cannot load the address book module"},
                                    Case{TAVERO_TEST_OTHER_BUILD_MODULE, "comes from another build of tavero"}}) {
    SCOPED_TRACE(module.string());
    testing::CapturedLog log;
    LazyAddressBook book(folderBook(module), processor_);
    EXPECT_FALSE(accessAnswer(book));
    EXPECT_TRUE(book.people().empty());
    EXPECT_FALSE(book.person(1));
    auto read = book.readPeople();
    ASSERT_TRUE(std::holds_alternative<std::string>(read));
    EXPECT_NE(std::get<std::string>(read).find(why), std::string::npos) << std::get<std::string>(read);
    EXPECT_EQ(log.containing(why).size(), 1u) << log.all();
    book.setAccess(AddressBookAccess::granted);  // nothing to pass it to
    EXPECT_FALSE(accessAnswer(book));
  }
}

}  // namespace
}  // namespace tavero::platform
