#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "json/Base64.h"
#include "platform/linux/GdkPixbufImageProcessor.h"
#include "platform/linux/VCardAddressBook.h"
#include "platform/linux/VCardPerson.h"
#include "support/TestImages.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

const MultiValue& multi(const Person& person, PersonProperty property) {
  static const MultiValue none;
  const auto* value = person.find(property);
  return value && std::holds_alternative<MultiValue>(*value) ? std::get<MultiValue>(*value) : none;
}

std::string text(const Person& person, PersonProperty property) {
  const auto* value = person.find(property);
  if (!value || !std::holds_alternative<PersonValue>(*value)) return "<none>";
  const auto* string = std::get_if<std::string>(&std::get<PersonValue>(*value));
  return string ? *string : "<not text>";
}

std::string label(const MultiValueEntry& entry) { return entry.label.value_or("<none>"); }

std::string textOf(const MultiValueEntry& entry) {
  const auto* string = std::get_if<std::string>(&entry.value);
  return string ? *string : "<not text>";
}

Person only(std::string_view vcard) {
  auto people = peopleFromVCardText(vcard, "test.vcf");
  EXPECT_EQ(people.size(), 1u);
  return people.empty() ? Person{} : people.front();
}

TEST(VCardAddressBook, PhoneTypesBecomeTheBooksLabels) {
  Person person = only(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jane;;;\r\n"
      "TEL;TYPE=CELL:+1 111\r\nTEL;TYPE=HOME,VOICE:+1 222\r\nTEL;type=cell;type=pref:+1 333\r\n"
      "TEL;TYPE=WORK,FAX:+1 444\r\nTEL:+1 555\r\nitem1.TEL:+1 666\r\nitem1.X-ABLabel:Boat\r\nEND:VCARD\r\n");
  const auto& phones = multi(person, PersonProperty::phone);
  ASSERT_EQ(phones.entries.size(), 6u);
  EXPECT_EQ(phones.elementType, kStringPropertyType);
  EXPECT_EQ(label(phones.entries[0]), labels::mobile);
  EXPECT_EQ(label(phones.entries[1]), labels::home);
  EXPECT_EQ(label(phones.entries[2]), labels::mobile);
  EXPECT_EQ(label(phones.entries[3]), labels::workFAX);
  EXPECT_EQ(label(phones.entries[4]), "<none>");
  EXPECT_EQ(label(phones.entries[5]), "Boat");  // a grouped X-ABLabel wins
  EXPECT_EQ(textOf(phones.entries[2]), "+1 333");
  EXPECT_EQ(text(person, PersonProperty::firstName), "Jane");
  EXPECT_EQ(text(person, PersonProperty::lastName), "Doe");
}

TEST(VCardAddressBook, Version4URIsGiveTheNumberAndTheAddressTheyCarry) {
  Person person = only(
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Li Wei\r\n"
      "TEL;TYPE=cell;VALUE=uri:tel:+86-10-1234-5678\r\nTEL;VALUE=uri:TEL:+1-201-555-0123;ext=7\r\n"
      "TEL;VALUE=text:+44 20 7946 0958\r\nTEL:tel:\r\n"
      "EMAIL;TYPE=work:mailto:li.wei%40example.org?subject=hi\r\nEMAIL:plain@example.org\r\n"
      "IMPP:xmpp:li%2Bwei@example.org\r\nIMPP:sip:bad%zzescape@example.org\r\nEND:VCARD\r\n");
  const auto& phones = multi(person, PersonProperty::phone);
  ASSERT_EQ(phones.entries.size(), 3u);  // "tel:" alone holds no number
  EXPECT_EQ(textOf(phones.entries[0]), "+86-10-1234-5678");
  EXPECT_EQ(label(phones.entries[0]), labels::mobile);
  EXPECT_EQ(textOf(phones.entries[1]), "+1-201-555-0123;ext=7");
  EXPECT_EQ(textOf(phones.entries[2]), "+44 20 7946 0958");
  const auto& emails = multi(person, PersonProperty::email);
  ASSERT_EQ(emails.entries.size(), 2u);
  EXPECT_EQ(textOf(emails.entries[0]), "li.wei@example.org");
  EXPECT_EQ(textOf(emails.entries[1]), "plain@example.org");
  const auto& messages = multi(person, PersonProperty::instantMessage);
  ASSERT_EQ(messages.entries.size(), 2u);
  EXPECT_EQ(std::get<PersonDictionary>(messages.entries[0].value),
            (PersonDictionary{{"service", "Jabber"}, {"username", "li+wei@example.org"}}));
  EXPECT_EQ(std::get<PersonDictionary>(messages.entries[1].value),
            (PersonDictionary{{"service", "sip"}, {"username", "bad%zzescape@example.org"}}));
}

TEST(VCardAddressBook, ReadsVersion21QuotedPrintableAndBareTypes) {
  Person person = only(
      "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;Dr.;\n"
      "TEL;CELL;VOICE:0171 1\nORG:Acme;Research\nTITLE:Chemist\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:first=0D=0Asecond\nEND:VCARD\n");
  EXPECT_EQ(text(person, PersonProperty::lastName), "M\u00fcller");
  EXPECT_EQ(text(person, PersonProperty::firstName), "J\u00fcrgen");
  EXPECT_EQ(text(person, PersonProperty::prefix), "Dr.");
  EXPECT_EQ(text(person, PersonProperty::organization), "Acme");
  EXPECT_EQ(text(person, PersonProperty::department), "Research");
  EXPECT_EQ(text(person, PersonProperty::jobTitle), "Chemist");
  EXPECT_EQ(text(person, PersonProperty::note), "first\r\nsecond");
  ASSERT_EQ(multi(person, PersonProperty::phone).entries.size(), 1u);
  EXPECT_EQ(label(multi(person, PersonProperty::phone).entries[0]), labels::mobile);
}

TEST(VCardAddressBook, ReadsAddressesMessagingDatesAndKind) {
  Person person = only(
      "BEGIN:VCARD\nVERSION:4.0\nFN:Acme Corporation\nKIND:org\n"
      "ADR;TYPE=work:;Suite 5;1 Main St;Springfield;IL;62701;USA\n"
      "IMPP;TYPE=home:xmpp:acme@example.org\nX-AIM:acmeaim\n"
      "BDAY:--0412\nANNIVERSARY:20010915\nREV:20230102T030405Z\nEND:VCARD\n");
  EXPECT_EQ(text(person, PersonProperty::organization), "Acme Corporation");
  const auto* kind = person.find(PersonProperty::kind);
  ASSERT_TRUE(kind);
  EXPECT_EQ(std::get<int64_t>(std::get<PersonValue>(*kind)), kPersonKindOrganization);

  const auto& addresses = multi(person, PersonProperty::address);
  ASSERT_EQ(addresses.entries.size(), 1u);
  EXPECT_EQ(label(addresses.entries[0]), labels::work);
  EXPECT_EQ(std::get<PersonDictionary>(addresses.entries[0].value),
            (PersonDictionary{{"Street", "Suite 5\n1 Main St"}, {"City", "Springfield"}, {"State", "IL"},
                              {"ZIP", "62701"}, {"Country", "USA"}}));

  const auto& messages = multi(person, PersonProperty::instantMessage);
  ASSERT_EQ(messages.entries.size(), 2u);
  EXPECT_EQ(std::get<PersonDictionary>(messages.entries[0].value),
            (PersonDictionary{{"service", "Jabber"}, {"username", "acme@example.org"}}));
  EXPECT_EQ(label(messages.entries[0]), labels::home);
  EXPECT_EQ(std::get<PersonDictionary>(messages.entries[1].value),
            (PersonDictionary{{"service", "AIM"}, {"username", "acmeaim"}}));

  const auto* birthday = person.find(PersonProperty::birthday);
  ASSERT_TRUE(birthday);
  EXPECT_EQ(personDateText(std::get<PersonDate>(std::get<PersonValue>(*birthday))), "1604-04-12 12:00:00 +0000");
  const auto& dates = multi(person, PersonProperty::date);
  ASSERT_EQ(dates.entries.size(), 1u);
  EXPECT_EQ(label(dates.entries[0]), labels::anniversary);
  EXPECT_EQ(personDateText(std::get<PersonDate>(dates.entries[0].value)), "2001-09-15 12:00:00 +0000");
  const auto* revised = person.find(PersonProperty::modificationDate);
  ASSERT_TRUE(revised);
  EXPECT_EQ(personDateText(std::get<PersonDate>(std::get<PersonValue>(*revised))), "2023-01-02 03:04:05 +0000");
}

TEST(VCardAddressBook, ReadsDateFormatsAndRefusesImpossibleDates) {
  EXPECT_EQ(personDateText(*parseVCardDate("1980-04-12")), "1980-04-12 12:00:00 +0000");
  EXPECT_EQ(personDateText(*parseVCardDate("19800412")), "1980-04-12 12:00:00 +0000");
  EXPECT_EQ(personDateText(*parseVCardDate("2023-01-02T03:04:05+0100")), "2023-01-02 02:04:05 +0000");
  EXPECT_EQ(personDateText(*parseVCardDate("20230102T030405")), "2023-01-02 03:04:05 +0000");
  for (auto bad : {"", "1980-02-30", "1980-13-01", "yesterday", "1980-04", "--13-40", "99999999999"})
    EXPECT_FALSE(parseVCardDate(bad)) << bad;
}

TEST(VCardAddressBook, GivesEachCardOfAFolderAStableId) {
  fs::path folder = fs::temp_directory_path() / ("tavero-vcards-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "b.vcf") << "BEGIN:VCARD\nVERSION:3.0\nN:B;One;;;\nEND:VCARD\n"
                                     "BEGIN:VCARD\nVERSION:3.0\nUID:two\nN:B;Two;;;\nEND:VCARD\n";
  std::ofstream(folder / "a.VCF") << "BEGIN:VCARD\nVERSION:3.0\nN:A;Zero;;;\nEND:VCARD\n";
  std::ofstream(folder / "notes.txt") << "BEGIN:VCARD\nN:Not;Read;;;\nEND:VCARD\n";
  GdkPixbufImageProcessor processor;
  VCardAddressBook book(folder, AddressBookAccess::granted, processor);
  auto people = book.people();
  ASSERT_EQ(people.size(), 3u);
  EXPECT_EQ(text(people[0], PersonProperty::firstName), "Zero");  // files in name order
  EXPECT_EQ(text(people[2], PersonProperty::firstName), "Two");
  EXPECT_NE(people[0].id, people[1].id);
  EXPECT_NE(people[1].id, people[2].id);
  EXPECT_GT(people[0].id, 0);

  // Another card added before them leaves the others' ids alone.
  std::ofstream(folder / "0.vcf") << "BEGIN:VCARD\nVERSION:3.0\nN:First;New;;;\nEND:VCARD\n";
  auto again = book.people();
  ASSERT_EQ(again.size(), 4u);
  EXPECT_EQ(again[3].id, people[2].id);
  EXPECT_EQ(again[1].id, people[0].id);
  ASSERT_TRUE(book.person(people[2].id));
  EXPECT_EQ(text(*book.person(people[2].id), PersonProperty::firstName), "Two");
  EXPECT_FALSE(book.person(12345));
  fs::remove_all(folder);
}

TEST(VCardAddressBook, ReadsInlinePicturesAndNeverFetchesOthers) {
  auto jpeg = test::twoColourImage(600, 300, "jpeg");
  std::string base64 = json::ql_base64_encode(jpeg, false);
  GdkPixbufImageProcessor processor;
  VCardAddressBook book("/nonexistent", AddressBookAccess::granted, processor);

  for (std::string photo : {"PHOTO;ENCODING=b;TYPE=JPEG:" + base64, "PHOTO:data:image/jpeg;base64," + base64}) {
    Person person = only("BEGIN:VCARD\nVERSION:3.0\nN:P;Q;;;\n" + photo + "\nEND:VCARD\n");
    ASSERT_TRUE(person.image) << photo.substr(0, 20);
    auto thumbnail = book.thumbnailImageData(person);
    ASSERT_TRUE(thumbnail);
    auto decoded = test::decode(*thumbnail);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, VCardAddressBook::kThumbnailSide);
    EXPECT_EQ(decoded->height, VCardAddressBook::kThumbnailSide / 2);
  }
  Person linked = only("BEGIN:VCARD\nVERSION:4.0\nFN:L\nPHOTO:file:///etc/passwd\nEND:VCARD\n");
  EXPECT_FALSE(linked.image);
  Person broken = only("BEGIN:VCARD\nVERSION:3.0\nN:P;Q;;;\nPHOTO;ENCODING=b;TYPE=JPEG:bm90IGEgcGljdHVyZQ==\nEND:VCARD\n");
  EXPECT_FALSE(book.thumbnailImageData(broken));  // undecodable: no picture rather than a broken one
}

TEST(VCardAddressBook, ToleratesBrokenAndHostileText) {
  EXPECT_TRUE(peopleFromVCardText("", "x.vcf").empty());
  EXPECT_TRUE(peopleFromVCardText("BEGIN:VCARD\nN:Never;Ends;;;\n", "x.vcf").empty());
  Person invalid = only("BEGIN:VCARD\nVERSION:3.0\nN:\xff\xfe;\xc3;;;\nEND:VCARD\n");
  EXPECT_EQ(text(invalid, PersonProperty::lastName), "\xef\xbf\xbd\xef\xbf\xbd");
  std::string many = "BEGIN:VCARD\nVERSION:3.0\nN:X;Y;;;\n";
  for (int i = 0; i < 2000; ++i) many += "TEL;TYPE=CELL:" + std::to_string(i) + "\n";
  many += "END:VCARD\n";
  EXPECT_EQ(multi(only(many), PersonProperty::phone).entries.size(), 2000u);
}

TEST(VCardAddressBook, AnswersTheAccessQuestionAsSet) {
  GdkPixbufImageProcessor processor;
  VCardAddressBook book("/nonexistent", AddressBookAccess::denied, processor);
  std::optional<bool> answer;
  book.requestAccess([&](bool granted) { answer = granted; });
  EXPECT_EQ(answer, false);
  book.setAccess(AddressBookAccess::granted);
  book.requestAccess([&](bool granted) { answer = granted; });
  EXPECT_EQ(answer, true);
  EXPECT_TRUE(book.people().empty());  // a folder that is not there holds no one
  EXPECT_EQ(book.localizedPropertyName(propertyId(PersonProperty::firstName)), "First");
  EXPECT_EQ(book.localizedPropertyName(99), "UNKNOWN_PROPERTY");
  EXPECT_EQ(book.localizedLabel(labels::mobile), "mobile");
  EXPECT_EQ(book.localizedLabel("Boat"), "Boat");
}

}  // namespace
}  // namespace tavero::platform
