#include <gtest/gtest.h>

#include "modules/RecordingCallbacks.h"
#include "modules/TQContacts.h"
#include "platform/linux/GdkPixbufImageProcessor.h"
#include "support/TestImages.h"

namespace tavero::modules {
namespace {

using platform::MultiValue;
using platform::Person;
using platform::PersonProperty;
using platform::PersonValue;
using test::call;
namespace labels = platform::labels;

// An address book held in memory, with the access answer the test sets.
class FakeAddressBook : public platform::AddressBook {
 public:
  void requestAccess(std::function<void(bool)> answer) override {
    ++accessRequests;
    answer(granted);
  }
  std::vector<Person> people() override { return everyone; }
  std::optional<Person> person(int32_t id) override {
    for (const auto& person : everyone)
      if (person.id == id) return person;
    return std::nullopt;
  }
  platform::PropertyType typeOfProperty(int32_t property) const override {
    return platform::personPropertyType(property);
  }
  std::optional<std::vector<uint8_t>> thumbnailImageData(const Person& person) override {
    if (!person.image) return std::nullopt;
    return std::get<std::vector<uint8_t>>(*person.image);
  }
  std::string localizedPropertyName(int32_t property) const override { return platform::englishPropertyName(property); }
  std::string localizedLabel(std::string_view label) const override { return platform::englishLabel(label); }

  bool granted = true;
  int accessRequests = 0;
  std::vector<Person> everyone;
};

MultiValue texts(std::vector<std::pair<std::optional<std::string>, std::string>> entries) {
  MultiValue multi;
  for (auto& [label, value] : entries) multi.entries.push_back({label, PersonValue(value)});
  return multi;
}

class ContactsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Person jane;
    jane.id = 7;
    jane.properties = {
        {PersonProperty::firstName, PersonValue(std::string("Jane"))},
        {PersonProperty::email, texts({{std::nullopt, "a@example.org"}, {std::nullopt, "b@example.org"}})},
        {PersonProperty::birthday, PersonValue(platform::PersonDate(std::chrono::seconds(324388800)))},
        {PersonProperty::kind, PersonValue(int64_t{0})},
        {PersonProperty::phone, texts({{std::string(labels::mobile), "+1 1"}, {std::string(labels::home), "+1 2"},
                                       {std::string(labels::mobile), "+1 3"}})},
        {PersonProperty::url, texts({{std::nullopt, "http://unlabelled"}, {std::string(labels::work), "http://work"}})},
    };
    jane.image = ::tavero::test::twoColourImage(64, 48, "png");
    Person bare;
    bare.id = 8;
    book_.everyone = {jane, bare};
  }

  std::vector<test::RecordingCallbacks::Delivery> run(const std::string& operation, const test::Arguments& arguments) {
    call(contacts_, operation, arguments);
    return callbacks_.take();
  }

  json::Object firstPerson(const test::Arguments& extra = {}) {
    test::Arguments arguments{{"success", "1"}, {"failure", "2"}};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto delivered = run("all", arguments);
    EXPECT_EQ(delivered.size(), 1u);
    if (delivered.empty() || !delivered[0].value || !delivered[0].value->isArray()) return {};
    EXPECT_EQ(delivered[0].value->asArray().size(), 2u);
    return delivered[0].value->asArray().at(0).asObject();
  }

  test::RecordingCallbacks callbacks_;
  FakeAddressBook book_;
  platform::GdkPixbufImageProcessor processor_;
  TQContacts contacts_{callbacks_, book_, processor_};
};

TEST_F(ContactsTest, NumbersEntriesThatShareALabel) {
  json::Object jane = firstPerson();
  EXPECT_EQ(test::text(*jane.find("phones")),
            "{ \"phone:_$!<Mobile>!$_:1\" : \"+1 1\", \"phone:_$!<Home>!$_:0\" : \"+1 2\", "
            "\"phone:_$!<Mobile>!$_:2\" : \"+1 3\"}");
}

TEST_F(ContactsTest, ListsUnlabelledEntriesOnlyWhenNoEntryHasALabel) {
  json::Object jane = firstPerson();
  EXPECT_EQ(test::text(*jane.find("emails")), "[\"a@example.org\", \"b@example.org\"]");
  EXPECT_EQ(test::text(*jane.find("urls")), "{ \"url:_$!<Work>!$_:0\" : \"http:\\/\\/work\"}");
}

TEST_F(ContactsTest, WritesKindAsANumberAndDatesAsTexts) {
  json::Object jane = firstPerson();
  EXPECT_EQ(*jane.find("id"), json::Value(7));
  EXPECT_TRUE(jane.find("kind")->isNumber());
  EXPECT_EQ(jane.find("kind")->toInt64(), 0);
  EXPECT_EQ(*jane.find("birthday"), json::Value("1980-04-12 12:00:00 +0000"));
  EXPECT_EQ(*jane.find("first_name"), json::Value("Jane"));
  EXPECT_FALSE(jane.contains("last_name"));
  EXPECT_FALSE(jane.contains("thumbnail"));  // images only when asked for
}

TEST_F(ContactsTest, AddsThumbnailsAsJPEGDataURLsWhenAskedFor) {
  json::Object jane = firstPerson({{"includeImages", "yes"}});
  const std::string& thumbnail = jane.find("thumbnail")->asString();
  ASSERT_TRUE(thumbnail.starts_with("data:image/jpg;base64,/9j/")) << thumbnail.substr(0, 40);  // a JPEG
  EXPECT_EQ(thumbnail.find('\n'), std::string::npos);

  auto delivered = run("getThumbnail", {{"success", "3"}, {"failure", "4"}, {"id", "7"}});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 3);
  EXPECT_EQ(delivered[0].value, json::Value(thumbnail));
}

TEST_F(ContactsTest, AnswersTheEmptyValueForAPersonWithoutPictureOrWithoutRecord) {
  for (auto id : {"8", "12345", "-1", "not a number"}) {
    auto delivered = run("getThumbnail", {{"success", "3"}, {"failure", "4"}, {"id", id}});
    ASSERT_EQ(delivered.size(), 1u) << id;
    EXPECT_EQ(delivered[0].id, 3) << id;
    EXPECT_FALSE(delivered[0].value) << id;
  }
}

TEST_F(ContactsTest, ReportsRefusedAccessOnceThroughTheFailureCallback) {
  book_.granted = false;
  auto delivered = run("all", {{"success", "1"}, {"failure", "2"}, {"includeImages", "true"}});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 2);
  EXPECT_EQ(delivered[0].value, json::Value("The user denied access to the Address Book"));
  EXPECT_EQ(book_.accessRequests, 1);
  delivered = run("getThumbnail", {{"success", "3"}, {"failure", "4"}, {"id", "7"}});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 4);
}

TEST_F(ContactsTest, NamesPropertiesAndLabelsInEnglish) {
  auto label = [&](const std::string& text) {
    auto delivered = run("getLocalizedLabel", {{"callback", "9"}, {"label", text}});
    EXPECT_EQ(delivered.size(), 1u);
    return delivered.empty() ? std::string() : delivered[0].value->asString();
  };
  EXPECT_EQ(label("first_name"), "First");
  EXPECT_EQ(label("phones"), "Phone");
  EXPECT_EQ(label("13"), "Birthday");  // a property identifier
  EXPECT_EQ(label("phone:_$!<Mobile>!$_:2"), "mobile 2");
  EXPECT_EQ(label("phone:_$!<Mobile>!$_:0"), "mobile");
  EXPECT_EQ(label("url:Boat:1"), "Boat 1");
  EXPECT_EQ(label("a:b"), "UNKNOWN_PROPERTY");
  EXPECT_EQ(label("a:b:c:d"), "UNKNOWN_PROPERTY");
  EXPECT_EQ(label("_$!<HomeFAX>!$_"), "home fax");
  EXPECT_EQ(label("Boat"), "Boat");
}

}  // namespace
}  // namespace tavero::modules
