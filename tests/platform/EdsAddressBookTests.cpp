// The desktop's address book through a private Evolution Data Server on a
// private session bus (tests/support/PrivateEds.h): what is added with
// EBookClient is what the shell's book reads; a desktop without a working
// EDS denies access, in bounded time, with one log line.
#include <gtest/gtest.h>
#include <gio/gio.h>

#include <fstream>
#include <thread>

#include "json/Base64.h"
#include "platform/linux/EdsAddressBook.h"
#include "platform/linux/GdkPixbufImageProcessor.h"
#include "platform/linux/GLibWorkerThread.h"
#include "support/CapturedLog.h"
#include "support/PrivateEds.h"
#include "support/TestImages.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::PrivateEds;

std::string text(const Person& person, PersonProperty property) {
  const auto* value = person.find(property);
  if (!value || !std::holds_alternative<PersonValue>(*value)) return "<none>";
  const auto* string = std::get_if<std::string>(&std::get<PersonValue>(*value));
  return string ? *string : "<not text>";
}

const MultiValue& multi(const Person& person, PersonProperty property) {
  static const MultiValue none;
  const auto* value = person.find(property);
  return value && std::holds_alternative<MultiValue>(*value) ? std::get<MultiValue>(*value) : none;
}

const Person* named(const std::vector<Person>& people, const std::string& first) {
  for (const Person& person : people)
    if (text(person, PersonProperty::firstName) == first) return &person;
  return nullptr;
}

std::optional<bool> accessAnswer(AddressBook& book) {
  std::optional<bool> answer;
  book.requestAccess([&](bool granted) { answer = granted; });
  return answer;
}

// A book of `eds`'s services, reading pictures where they keep them.
EdsAddressBook::Options optionsFor(const PrivateEds& eds, std::chrono::milliseconds timeout = 20s) {
  return {.access = AddressBookAccess::granted,
          .timeout = timeout,
          .pictureFolders = {eds.dataHome() / "evolution" / "addressbook", eds.cacheHome() / "evolution" / "addressbook"}};
}

#define SKIP_WITHOUT_EDS()                                                                  \
  if (!PrivateEds::installed()) GTEST_SKIP() << "dbus-daemon or evolution-data-server missing " \
                                                "(scripts/install-deps installs them)"

TEST(EdsAddressBook, ReadsWhatTheDesktopsBookHoldsWithStableIdsAndItsOwnPictures) {
  SKIP_WITHOUT_EDS();
  const auto started = std::chrono::steady_clock::now();
  PrivateEds eds;
  ASSERT_EQ(eds.failure(), "");
  std::string photo = json::ql_base64_encode(test::twoColourImage(600, 300, "jpeg"), false);
  fs::path elsewhere = eds.folder() / "elsewhere.jpg";  // a picture outside EDS's folders
  test::writeFile(elsewhere, test::twoColourImage(60, 30, "jpeg"));
  auto added = eds.addContacts({
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nTEL;TYPE=CELL:+44 1\r\nTEL;TYPE=HOME,FAX:+44 2\r\n"
      "item1.EMAIL:ada@example.org\r\nitem1.X-ABLabel:Engine\r\nBDAY:1815-12-10\r\n"
      "PHOTO;ENCODING=b;TYPE=JPEG:" + photo + "\r\nEND:VCARD\r\n",
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Hopper;Grace;;;\r\nORG:Navy;Computing\r\n"
      "PHOTO;VALUE=uri:file://" + elsewhere.string() + "\r\nEND:VCARD\r\n"});
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(added)) << std::get<std::string>(added);
  ASSERT_EQ(std::get<std::vector<std::string>>(added).size(), 2u);

  GdkPixbufImageProcessor processor;
  testing::CapturedLog log;
  std::vector<Person> first;
  {
    EdsAddressBook book(optionsFor(eds), processor);
    EXPECT_EQ(accessAnswer(book), true) << log.all() << eds.serviceLog();
    first = book.people();
    ASSERT_EQ(first.size(), 2u) << log.all();
    const Person* ada = named(first, "Ada");
    const Person* grace = named(first, "Grace");
    ASSERT_TRUE(ada && grace);
    // The folder's mapping: labels, grouped labels, dates, organisation.
    const auto& phones = multi(*ada, PersonProperty::phone).entries;
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[0].label, std::string(labels::mobile));
    EXPECT_EQ(std::get<std::string>(phones[0].value), "+44 1");
    EXPECT_EQ(phones[1].label, std::string(labels::homeFAX));
    ASSERT_EQ(multi(*ada, PersonProperty::email).entries.size(), 1u);
    EXPECT_EQ(multi(*ada, PersonProperty::email).entries[0].label, "Engine");
    EXPECT_TRUE(ada->find(PersonProperty::birthday));
    EXPECT_EQ(text(*grace, PersonProperty::department), "Computing");
    // EDS keeps an inline picture as a file of its own: read; a file the
    // card names elsewhere is not.
    auto thumbnail = book.thumbnailImageData(*ada);
    ASSERT_TRUE(thumbnail) << log.all();
    auto decoded = test::decode(*thumbnail);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, kPersonThumbnailSide);
    EXPECT_EQ(decoded->height, kPersonThumbnailSide / 2);
    EXPECT_FALSE(grace->image);
    auto again = book.person(ada->id);
    ASSERT_TRUE(again);
    EXPECT_EQ(text(*again, PersonProperty::lastName), "Lovelace");
    EXPECT_FALSE(book.person(0));

    // Readers on several threads at once each get everyone.
    std::vector<size_t> counts(3);
    std::vector<std::thread> readers;
    for (size_t i = 0; i < counts.size(); ++i) readers.emplace_back([&, i] { counts[i] = book.people().size(); });
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(counts, std::vector<size_t>(3, 2u));
  }
  // Another book (another run of the app) after someone is added: the ids
  // of those who were there stay.
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(
      eds.addContacts({"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Babbage;Charles;;;\r\nEND:VCARD\r\n"})));
  EdsAddressBook later(optionsFor(eds), processor);
  auto everyone = later.people();
  ASSERT_EQ(everyone.size(), 3u);
  for (const char* name : {"Ada", "Grace"}) {
    ASSERT_TRUE(named(everyone, name));
    EXPECT_EQ(named(everyone, name)->id, named(first, name)->id) << name;
  }
  EXPECT_NE(named(everyone, "Charles")->id, named(everyone, "Ada")->id);
  EXPECT_TRUE(log.containing("not available").empty()) << log.all();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

TEST(EdsAddressBook, TheProfilesDenialHoldsWhateverTheServiceSays) {
  SKIP_WITHOUT_EDS();
  PrivateEds eds;
  ASSERT_EQ(eds.failure(), "");
  GdkPixbufImageProcessor processor;
  auto options = optionsFor(eds);
  options.access = AddressBookAccess::denied;
  EdsAddressBook book(options, processor);
  EXPECT_EQ(accessAnswer(book), false);
  book.setAccess(AddressBookAccess::granted);
  EXPECT_EQ(accessAnswer(book), true) << eds.serviceLog();
}

// Access is denied, quickly, with one log line naming why, however often
// pages ask; `because` is in that line.
void expectDeniedWithOneLine(EdsAddressBook& book, const std::string& because, std::chrono::milliseconds within) {
  testing::CapturedLog log;
  for (int ask = 0; ask < 2; ++ask) {
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(accessAnswer(book), false);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, within);
  }
  EXPECT_TRUE(book.people().empty());
  auto lines = log.containing("Evolution Data Server) is not available");
  ASSERT_EQ(lines.size(), 1u) << log.all();
  EXPECT_NE(lines[0].find(because), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("access to the contacts is denied"), std::string::npos) << lines[0];
  auto read = book.readPeople();
  ASSERT_TRUE(std::holds_alternative<std::string>(read));
  EXPECT_NE(std::get<std::string>(read).find(because), std::string::npos) << std::get<std::string>(read);
}

TEST(EdsAddressBook, WithoutASessionBusAccessIsDenied) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavero-bus", 1);
  GdkPixbufImageProcessor processor;
  EdsAddressBook book({.timeout = 5s}, processor);
  expectDeniedWithOneLine(book, "source registry cannot be reached", 5s);
}

TEST(EdsAddressBook, WithoutEdsOnTheBusAccessIsDenied) {
  SKIP_WITHOUT_EDS();
  PrivateEds eds(PrivateEds::Services::none);
  ASSERT_EQ(eds.failure(), "");
  GdkPixbufImageProcessor processor;
  EdsAddressBook book(optionsFor(eds, 5s), processor);
  expectDeniedWithOneLine(book, "source registry cannot be reached", 5s);
}

TEST(EdsAddressBook, AFailingAddressBookFactoryDeniesAccess) {
  SKIP_WITHOUT_EDS();
  PrivateEds eds(PrivateEds::Services::failingFactory);
  ASSERT_EQ(eds.failure(), "");
  GdkPixbufImageProcessor processor;
  EdsAddressBook book(optionsFor(eds, 20s), processor);
  expectDeniedWithOneLine(book, "cannot be opened", 20s);
}

TEST(EdsAddressBook, ARegistryThatNeverAnswersIsGivenUpAfterTheTimeout) {
  SKIP_WITHOUT_EDS();
  PrivateEds eds(PrivateEds::Services::hangingRegistry);
  ASSERT_EQ(eds.failure(), "");
  GdkPixbufImageProcessor processor;
  const auto made = std::chrono::steady_clock::now();
  {
    EdsAddressBook book(optionsFor(eds, 700ms), processor);
    expectDeniedWithOneLine(book, "did not answer within 700 ms", 2s);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - made, 10s);  // the book's end does not wait for the service either
}

TEST(EdsAddressBook, StoppingTheBusLeavesNoServiceBehind) {
  SKIP_WITHOUT_EDS();
  std::vector<pid_t> services;
  {
    PrivateEds eds;
    ASSERT_EQ(eds.failure(), "");
    GdkPixbufImageProcessor processor;
    EdsAddressBook book(optionsFor(eds), processor);
    EXPECT_EQ(accessAnswer(book), true);
    services = eds.serviceProcesses();
  }
  EXPECT_GE(services.size(), 2u);  // the registry and the address book factory
  for (pid_t pid : services) EXPECT_NE(::kill(pid, 0), 0) << "process " << pid << " still there";
}

TEST(GLibWorkerThread, RunsWorkOnItsOwnContextAndGivesUpOnSlowWork) {
  GLibWorkerThread worker("test-worker");
  auto context = worker.run<bool>([](GCancellable*) {
    GMainContext* own = g_main_context_get_thread_default();
    return own && own != g_main_context_default() && g_main_context_is_owner(own);
  }, 5s);
  EXPECT_EQ(context, true);

  const auto asked = std::chrono::steady_clock::now();
  auto slow = worker.run<int>([](GCancellable* cancellable) {
    // Work that waits until it is cancelled, as a blocking call would.
    for (int i = 0; i < 500 && !g_cancellable_is_cancelled(cancellable); ++i) g_usleep(10000);
    return g_cancellable_is_cancelled(cancellable) ? 1 : 2;
  }, 100ms);
  EXPECT_FALSE(slow);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
  EXPECT_EQ(worker.run<int>([](GCancellable*) { return 7; }, 5s), 7);  // the next work runs after it
}

}  // namespace
}  // namespace tavero::platform
