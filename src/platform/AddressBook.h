// The address book: the people the user keeps, each with named properties,
// some of them multi-valued with a label per entry, and a picture.
//
// Properties are named by numeric identifiers (PersonProperty); what kind
// of value a property holds is the book's answer to typeOfProperty. Labels
// are texts: the constants below for the book's own labels (a vCard's
// TYPE=CELL is `labels::mobile`), or the user's own text.
//
// Thread rules: any thread. people() and person() read the book afresh on
// every call; the access answer may come on any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/ImageProcessor.h"

namespace tavero::platform {

enum class PersonProperty : int32_t {
  firstName = 0, lastName, middleName, prefix, suffix, nickname,
  firstNamePhonetic, lastNamePhonetic, middleNamePhonetic,
  organization, jobTitle, department, email, birthday, note,
  creationDate, modificationDate, address, date, kind, phone,
  instantMessage, url, relatedNames, socialProfile,
};
constexpr int32_t kPersonPropertyCount = 25;

constexpr int32_t propertyId(PersonProperty property) { return static_cast<int32_t>(property); }

// Value kinds, as numbered by address books: a multi-value kind is its
// element kind plus kMultiValueMask.
enum PropertyType : int32_t {
  kInvalidPropertyType = 0, kStringPropertyType = 1, kIntegerPropertyType = 2, kRealPropertyType = 3,
  kDatePropertyType = 4, kDictionaryPropertyType = 5, kMultiValueMask = 256,
  kMultiStringPropertyType = 257, kMultiIntegerPropertyType = 258, kMultiRealPropertyType = 259,
  kMultiDatePropertyType = 260, kMultiDictionaryPropertyType = 261,
};

// kind: a person or an organization.
constexpr int64_t kPersonKindPerson = 0;
constexpr int64_t kPersonKindOrganization = 1;

// The book's own labels.
namespace labels {
constexpr std::string_view home = "_$!<Home>!$_";
constexpr std::string_view work = "_$!<Work>!$_";
constexpr std::string_view other = "_$!<Other>!$_";
constexpr std::string_view mobile = "_$!<Mobile>!$_";
constexpr std::string_view iPhone = "iPhone";
constexpr std::string_view main = "_$!<Main>!$_";
constexpr std::string_view homeFAX = "_$!<HomeFAX>!$_";
constexpr std::string_view workFAX = "_$!<WorkFAX>!$_";
constexpr std::string_view otherFAX = "_$!<OtherFAX>!$_";
constexpr std::string_view pager = "_$!<Pager>!$_";
constexpr std::string_view homePage = "_$!<HomePage>!$_";
constexpr std::string_view anniversary = "_$!<Anniversary>!$_";
constexpr std::string_view father = "_$!<Father>!$_";
constexpr std::string_view mother = "_$!<Mother>!$_";
constexpr std::string_view parent = "_$!<Parent>!$_";
constexpr std::string_view brother = "_$!<Brother>!$_";
constexpr std::string_view sister = "_$!<Sister>!$_";
constexpr std::string_view child = "_$!<Child>!$_";
constexpr std::string_view friendLabel = "_$!<Friend>!$_";
constexpr std::string_view spouse = "_$!<Spouse>!$_";
constexpr std::string_view partner = "_$!<Partner>!$_";
constexpr std::string_view assistant = "_$!<Assistant>!$_";
constexpr std::string_view manager = "_$!<Manager>!$_";
}  // namespace labels

// Keys of the dictionaries in multi-valued properties.
namespace keys {
constexpr std::string_view street = "Street", city = "City", state = "State", zip = "ZIP", country = "Country",
                           countryCode = "CountryCode";
constexpr std::string_view service = "service", username = "username", url = "url",
                           userIdentifier = "userIdentifier";
}  // namespace keys

using PersonDate = std::chrono::sys_seconds;
using PersonDictionary = std::vector<std::pair<std::string, std::string>>;  // in the book's order
using PersonValue = std::variant<std::string, int64_t, double, PersonDate, PersonDictionary>;

struct MultiValueEntry {
  std::optional<std::string> label;  // none: an unlabelled entry
  PersonValue value;
};

struct MultiValue {
  PropertyType elementType = kStringPropertyType;
  std::vector<MultiValueEntry> entries;
};

struct Person {
  int32_t id = 0;  // the record identifier: stable while the person's record stays
  std::vector<std::pair<PersonProperty, std::variant<PersonValue, MultiValue>>> properties;
  std::optional<ImageData> image;  // the picture as stored

  // The value of `property`, or null.
  const std::variant<PersonValue, MultiValue>* find(PersonProperty property) const;
  const std::variant<PersonValue, MultiValue>* find(int32_t property) const;
};

enum class AddressBookAccess { granted, denied };

class AddressBook {
 public:
  virtual ~AddressBook() = default;

  // Asks whether the app may read the book; `answer(granted)` comes once,
  // on any thread (possibly before this returns).
  virtual void requestAccess(std::function<void(bool granted)> answer) = 0;

  // Everyone in the book, in the book's order.
  virtual std::vector<Person> people() = 0;
  virtual std::optional<Person> person(int32_t id) = 0;

  // What kind of value `property` holds; kInvalidPropertyType for an id
  // that names no property. By default a vCard book's (personPropertyType).
  virtual PropertyType typeOfProperty(int32_t property) const;

  // The person's picture in the thumbnail format (small, encoded), or none.
  virtual std::optional<std::vector<uint8_t>> thumbnailImageData(const Person& person) = 0;

  // The user's language's name of `property`; "UNKNOWN_PROPERTY" when the
  // id names none. By default English.
  virtual std::string localizedPropertyName(int32_t property) const;
  // The user's language's text for `label`: the book's own labels are
  // translated, any other text is its own translation. By default English.
  virtual std::string localizedLabel(std::string_view label) const;
};

// English names of the book's properties and labels.
std::string englishPropertyName(int32_t property);  // "UNKNOWN_PROPERTY" for an unknown id
std::string englishLabel(std::string_view label);   // the label itself when it is not the book's own

// The property type each property of a vCard book holds.
PropertyType personPropertyType(int32_t property);

// The side of the square a person's thumbnail is fitted in.
constexpr int kPersonThumbnailSide = 320;

// The person's picture fitted in kPersonThumbnailSide squared, or none
// without a picture or when it cannot be read (logged).
std::optional<std::vector<uint8_t>> personThumbnail(const Person& person, const ImageProcessor& processor);

// The platform's locale-free text of a date: "2001-03-24 10:45:32 +0000".
std::string personDateText(PersonDate date);

}  // namespace tavero::platform
