// The desktop's address book in the real web view (the shell run as with
// `tavero run --contacts system`): a page reads the people a private
// Evolution Data Server holds, `tavero device contacts list` shows the same
// ids, and without EDS the page hears the refusal.
#include <map>

#include "e2e/EndToEndFixture.h"
#include "support/CapturedLog.h"
#include "support/PrivateEds.h"

namespace tavero::app::e2e {
namespace {

using SystemContactsEndToEnd = EndToEndTest;
using testing::PrivateEds;

TEST_F(SystemContactsEndToEnd, APageReadsThePeopleOfTheDesktopsAddressBook) {
  if (!PrivateEds::installed()) GTEST_SKIP() << "dbus-daemon or evolution-data-server missing";
  PrivateEds eds;
  ASSERT_EQ(eds.failure(), "");
  auto added = eds.addContacts({
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nTEL;TYPE=CELL:+44 1\r\nTEL;TYPE=CELL:+44 2\r\nEND:VCARD\r\n",
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Grace Hopper\r\nN:Hopper;Grace;;;\r\nEND:VCARD\r\n"});
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(added)) << std::get<std::string>(added);

  testing::CapturedLog log;
  auto shell = makeShell("contacts-app", [](ShellApplication::Settings& settings) {
    settings.media.contactsSource = platform::ContactsSource::system;
  });
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict);
  const json::Value* people = verdict->find("people");
  ASSERT_TRUE(people && people->isArray()) << text(*verdict) << log.all();
  ASSERT_EQ(people->asArray().size(), 2u) << text(*verdict);
  std::map<std::string, const json::Object*> byName;
  for (const json::Value& person : people->asArray()) byName[person.asObject().find("first")->asString()] = &person.asObject();
  ASSERT_TRUE(byName.count("Ada") && byName.count("Grace")) << text(*verdict);
  EXPECT_EQ(byName["Grace"]->find("last")->asString(), "Hopper");
  const json::Value* phones = byName["Ada"]->find("phones");
  ASSERT_TRUE(phones && phones->isObject()) << text(*verdict);
  const json::Value* second = phones->asObject().find("phone:_$!<Mobile>!$_:2");
  ASSERT_TRUE(second && second->isString()) << text(*verdict);
  EXPECT_EQ(second->asString(), "+44 2");
  EXPECT_EQ(phones->asObject().size(), 2u);
  EXPECT_TRUE(log.has("contacts: people come from the desktop's address books")) << log.all();

  // The ids pages see are the ones the device command lists.
  CommandOutput list = device(*shell, {"contacts", "list"});
  EXPECT_EQ(list.exitStatus, 0) << list.err;
  for (const auto& [name, person] : byName) {
    std::string id = json::JsonCodec::jsonStringForValue(*person->find("id"));
    EXPECT_NE(list.out.find(id), std::string::npos) << name << " " << list.out;
  }
  shell->terminate();
}

TEST_F(SystemContactsEndToEnd, WithoutEdsThePageHearsTheRefusalAndTheDeviceCommandSaysWhy) {
  if (!PrivateEds::installed()) GTEST_SKIP() << "dbus-daemon missing";
  PrivateEds eds(PrivateEds::Services::none);
  ASSERT_EQ(eds.failure(), "");
  testing::CapturedLog log;
  auto shell = makeShell("contacts-app", [](ShellApplication::Settings& settings) {
    settings.media.contactsSource = platform::ContactsSource::system;
  });
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict);
  const json::Value* error = verdict->find("error");
  ASSERT_TRUE(error && error->isString()) << text(*verdict);
  EXPECT_EQ(error->asString(), "The user denied access to the Address Book");
  EXPECT_EQ(json::JsonCodec::jsonStringForValue(*verdict->find("code")), "1");  // PERMISSION_DENIED
  EXPECT_EQ(log.containing("(Evolution Data Server) is not available").size(), 1u) << log.all();

  CommandOutput list = device(*shell, {"contacts", "list"});
  EXPECT_EQ(list.exitStatus, 1);
  EXPECT_NE(list.err.find("--contacts system"), std::string::npos) << list.err;
  EXPECT_NE(list.err.find("is not available"), std::string::npos) << list.err;
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
