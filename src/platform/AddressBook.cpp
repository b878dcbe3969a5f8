#include "platform/AddressBook.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "log/Log.h"

namespace tavero::platform {
namespace {

struct PropertyFacts {
  PropertyType type;
  const char* englishName;
};

// In PersonProperty order.
constexpr std::array<PropertyFacts, kPersonPropertyCount> kProperties{{
    {kStringPropertyType, "First"},
    {kStringPropertyType, "Last"},
    {kStringPropertyType, "Middle"},
    {kStringPropertyType, "Prefix"},
    {kStringPropertyType, "Suffix"},
    {kStringPropertyType, "Nickname"},
    {kStringPropertyType, "Phonetic First Name"},
    {kStringPropertyType, "Phonetic Last Name"},
    {kStringPropertyType, "Phonetic Middle Name"},
    {kStringPropertyType, "Company"},
    {kStringPropertyType, "Job Title"},
    {kStringPropertyType, "Department"},
    {kMultiStringPropertyType, "Email"},
    {kDatePropertyType, "Birthday"},
    {kStringPropertyType, "Notes"},
    {kDatePropertyType, "Creation Date"},
    {kDatePropertyType, "Modification Date"},
    {kMultiDictionaryPropertyType, "Address"},
    {kMultiDatePropertyType, "Date"},
    {kIntegerPropertyType, "Kind"},
    {kMultiStringPropertyType, "Phone"},
    {kMultiDictionaryPropertyType, "Instant Message"},
    {kMultiStringPropertyType, "URL"},
    {kMultiStringPropertyType, "Related Name"},
    {kMultiDictionaryPropertyType, "Social Profile"},
}};

struct LabelText {
  std::string_view label;
  const char* english;
};

constexpr std::array<LabelText, 23> kLabels{{
    {labels::home, "home"},         {labels::work, "work"},           {labels::other, "other"},
    {labels::mobile, "mobile"},     {labels::iPhone, "iPhone"},       {labels::main, "main"},
    {labels::homeFAX, "home fax"},  {labels::workFAX, "work fax"},    {labels::otherFAX, "other fax"},
    {labels::pager, "pager"},       {labels::homePage, "home page"},  {labels::anniversary, "anniversary"},
    {labels::father, "father"},     {labels::mother, "mother"},       {labels::parent, "parent"},
    {labels::brother, "brother"},   {labels::sister, "sister"},       {labels::child, "child"},
    {labels::friendLabel, "friend"}, {labels::spouse, "spouse"},      {labels::partner, "partner"},
    {labels::assistant, "assistant"}, {labels::manager, "manager"},
}};

}  // namespace

const std::variant<PersonValue, MultiValue>* Person::find(PersonProperty property) const {
  for (const auto& [key, value] : properties)
    if (key == property) return &value;
  return nullptr;
}

const std::variant<PersonValue, MultiValue>* Person::find(int32_t property) const {
  if (property < 0 || property >= kPersonPropertyCount) return nullptr;
  return find(static_cast<PersonProperty>(property));
}

std::string englishPropertyName(int32_t property) {
  if (property < 0 || property >= kPersonPropertyCount) return "UNKNOWN_PROPERTY";
  return kProperties[static_cast<size_t>(property)].englishName;
}

std::string englishLabel(std::string_view label) {
  for (const auto& entry : kLabels)
    if (entry.label == label) return entry.english;
  return std::string(label);
}

PropertyType personPropertyType(int32_t property) {
  if (property < 0 || property >= kPersonPropertyCount) return kInvalidPropertyType;
  return kProperties[static_cast<size_t>(property)].type;
}

std::string personDateText(PersonDate date) {
  std::time_t seconds = date.time_since_epoch().count();
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d +0000", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::optional<std::vector<uint8_t>> personThumbnail(const Person& person, const ImageProcessor& processor) {
  if (!person.image) return std::nullopt;
  auto thumbnail = processor.thumbnail(*person.image, kPersonThumbnailSide);
  if (auto* error = std::get_if<std::string>(&thumbnail)) {
    log::warning("contacts: the picture of person " + std::to_string(person.id) + " cannot be read: " + *error);
    return std::nullopt;
  }
  return std::move(std::get<EncodedImage>(thumbnail).bytes);
}

PropertyType AddressBook::typeOfProperty(int32_t property) const { return personPropertyType(property); }

std::string AddressBook::localizedPropertyName(int32_t property) const { return englishPropertyName(property); }

std::string AddressBook::localizedLabel(std::string_view label) const { return englishLabel(label); }

}  // namespace tavero::platform
