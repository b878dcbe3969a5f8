#include "modules/TQContacts.h"

#include <array>
#include <map>

#include "bridge/ArgumentRules.h"
#include "json/Base64.h"
#include "log/Log.h"

namespace tavero::modules {

using bridge::Invocation;
using platform::PersonProperty;

namespace {

// In the order the person's properties are read.
constexpr std::array<std::string_view, platform::kPersonPropertyCount> kKeys{
    "first_name", "last_name", "middle_name", "prefix", "suffix", "nickname",
    "first_name_phonetic", "last_name_phonetic", "middle_name_phonetic",
    "organization", "job_title", "department", "emails", "birthday", "note",
    "creation_date", "modification_date", "addresses", "dates", "kind", "phones",
    "instant_messages", "urls", "related_names", "social_profiles"};

const std::map<PersonProperty, std::string_view> kSubkeys{
    {PersonProperty::email, "email"},          {PersonProperty::address, "address"},
    {PersonProperty::date, "date"},            {PersonProperty::phone, "phone"},
    {PersonProperty::instantMessage, "instant_message"}, {PersonProperty::url, "url"},
    {PersonProperty::relatedNames, "related_name"}, {PersonProperty::socialProfile, "social_profile"}};

json::Value jsonOf(const platform::PersonValue& value) {
  return std::visit(
      [](const auto& v) -> json::Value {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return json::Value(v);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return json::Value(static_cast<long long>(v));
        } else if constexpr (std::is_same_v<T, double>) {
          return json::Value(v);
        } else if constexpr (std::is_same_v<T, platform::PersonDate>) {
          return json::Value(platform::personDateText(v));
        } else {
          json::Object object;
          for (const auto& [key, text] : v) object.set(key, text);
          return json::Value(std::move(object));
        }
      },
      value);
}

// The integer a whole text gives as a number ("12", "-3", "2.5" gives 2), or none.
std::optional<int32_t> numberFromString(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  size_t digitsStart = i;
  int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
    ++i;
  }
  if (i == digitsStart) return std::nullopt;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  }
  if (i != text.size()) return std::nullopt;
  value = negative ? -value : value;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    pieces.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return pieces;
    start = at + 1;
  }
}

}  // namespace

TQContacts::TQContacts(bridge::CallbackDelivery& callbacks, platform::AddressBook& book,
                       const platform::ImageProcessor& processor)
    : callbacks_(callbacks), book_(book), processor_(processor) {
  addOperation("all", [this](Invocation& call) { all(call); });
  addOperation("getThumbnail", [this](Invocation& call) { getThumbnail(call); });
  addOperation("getLocalizedLabel", [this](Invocation& call) { getLocalizedLabel(call); });
}

std::string TQContacts::keyForProperty(int32_t property) {
  if (property >= 0 && property < platform::kPersonPropertyCount) return std::string(kKeys[static_cast<size_t>(property)]);
  return std::to_string(property);
}

std::string TQContacts::subkeyForProperty(int32_t property) {
  if (auto it = kSubkeys.find(static_cast<PersonProperty>(property)); it != kSubkeys.end()) return std::string(it->second);
  return std::to_string(property);
}

void TQContacts::all(Invocation& call) {
  const int success = call.integer("success");
  const int failure = call.integer("failure");
  const bool includeImages = call.flag("includeImages");
  book_.requestAccess([this, success, failure, includeImages](bool granted) {
    if (!granted) {
      callbacks_.invokeCallback(failure, json::Value(std::string(kDeniedText)));
      return;
    }
    json::Array people;
    for (const platform::Person& person : book_.people()) people.emplace_back(dictionaryForPerson(person, includeImages));
    callbacks_.invokeCallback(success, json::Value(std::move(people)));
  });
}

void TQContacts::getThumbnail(Invocation& call) {
  const int success = call.integer("success");
  const int failure = call.integer("failure");
  const int32_t id = call.integer("id");
  book_.requestAccess([this, success, failure, id](bool granted) {
    if (!granted) {
      callbacks_.invokeCallback(failure, json::Value(std::string(kDeniedText)));
      return;
    }
    std::optional<json::Value> thumbnail;
    if (auto person = book_.person(id)) {
      if (auto text = thumbnailForPerson(*person)) thumbnail = json::Value(std::move(*text));
    }
    callbacks_.invokeCallback(success, thumbnail);
  });
}

void TQContacts::getLocalizedLabel(Invocation& call) {
  callbacks_.invokeCallback(call.integer("callback"), json::Value(localizedLabelForKey(call.text("label"))));
}

std::string TQContacts::localizedLabelForKey(std::string_view label) {
  int32_t property = -1;
  bool found = false;
  for (int32_t candidate = 0; candidate < platform::kPersonPropertyCount; ++candidate) {
    if (kKeys[static_cast<size_t>(candidate)] == label) {
      property = candidate;
      found = true;
      break;
    }
  }
  if (!found) property = numberFromString(label).value_or(-1);
  std::string text = book_.localizedPropertyName(property);
  if (text != "UNKNOWN_PROPERTY") return text;
  auto pieces = split(label, ':');
  if (pieces.size() == 1) return book_.localizedLabel(label);
  if (pieces.size() == 3) {
    text = book_.localizedLabel(pieces[1]);
    if (bridge::intValue(pieces[2]) != 0) text += " " + pieces[2];
  }
  return text;
}

json::Object TQContacts::dictionaryForPerson(const platform::Person& person, bool includeImages) {
  json::Object record;
  record.append("id", static_cast<int>(person.id));
  for (int32_t property = 0; property < platform::kPersonPropertyCount; ++property)
    updateDictionary(record, property, person);
  if (includeImages) {
    if (auto thumbnail = thumbnailForPerson(person)) record.set("thumbnail", std::move(*thumbnail));
  }
  return record;
}

void TQContacts::updateDictionary(json::Object& record, int32_t property, const platform::Person& person) {
  const std::string key = keyForProperty(property);
  const platform::PropertyType type = book_.typeOfProperty(property);
  const auto* stored = person.find(property);
  if (!stored) return;
  if (type == platform::kStringPropertyType || type == platform::kIntegerPropertyType ||
      type == platform::kDatePropertyType) {
    if (const auto* value = std::get_if<platform::PersonValue>(stored)) record.set(key, jsonOf(*value));
    return;
  }
  if (type != platform::kMultiStringPropertyType && type != platform::kMultiDatePropertyType &&
      type != platform::kMultiDictionaryPropertyType)
    return;
  const auto* multi = std::get_if<platform::MultiValue>(stored);
  if (!multi) return;
  const std::string subkey = subkeyForProperty(property);
  // First pass: 0 for a label used once, 1 for one used more than once.
  std::map<std::string, int> counters;
  for (const auto& entry : multi->entries) {
    if (!entry.label) continue;
    auto [it, inserted] = counters.try_emplace(*entry.label, 0);
    if (!inserted) it->second = 1;
  }
  json::Object labelled;
  json::Array unlabelled;
  for (const auto& entry : multi->entries) {
    if (!entry.label) {
      unlabelled.push_back(jsonOf(entry.value));
      continue;
    }
    int& counter = counters[*entry.label];
    const int n = counter++;
    labelled.set(subkey + ":" + *entry.label + ":" + std::to_string(n), jsonOf(entry.value));
  }
  if (!labelled.empty())
    record.set(key, std::move(labelled));
  else if (!unlabelled.empty())
    record.set(key, std::move(unlabelled));
}

std::optional<std::string> TQContacts::thumbnailForPerson(const platform::Person& person) {
  auto picture = book_.thumbnailImageData(person);
  if (!picture) return std::nullopt;
  platform::ImageJob job;
  job.encoding = platform::ImageEncoding::jpeg;
  job.quality = kThumbnailQuality;
  auto encoded = processor_.process(std::move(*picture), job);
  if (auto* error = std::get_if<std::string>(&encoded)) {
    log::warning("contacts: the picture of person " + std::to_string(person.id) + " cannot be shown: " + *error);
    return std::nullopt;
  }
  return "data:image/jpg;base64," + json::ql_base64_encode(std::get<platform::EncodedImage>(encoded).bytes, false);
}

}  // namespace tavero::modules
