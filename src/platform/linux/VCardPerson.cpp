#include "platform/linux/VCardPerson.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook-contacts/libebook-contacts.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "base/AsciiText.h"

namespace tavero::platform {
namespace {

// ---- small helpers -------------------------------------------------------

std::string validText(const char* text) {
  if (!text) return {};
  gchar* valid = g_utf8_make_valid(text, -1);
  std::string result(valid);
  g_free(valid);
  return result;
}

std::string trimmed(std::string_view text) { return std::string(base::trimAsciiWhiteSpace(text)); }

struct Attribute {
  EVCardAttribute* raw;

  std::string name() const { return validText(e_vcard_attribute_get_name(raw)); }
  std::string group() const { return validText(e_vcard_attribute_get_group(raw)); }
  std::vector<std::string> values() const {
    std::vector<std::string> out;
    for (GList* v = e_vcard_attribute_get_values(raw); v; v = v->next) out.push_back(validText(static_cast<char*>(v->data)));
    return out;
  }
  std::string value(size_t index = 0) const {
    auto all = values();
    return index < all.size() ? trimmed(all[index]) : std::string();
  }
  // The values joined again by ";": a URI value ("tel:+1-555;ext=5") is
  // one value, but the parser splits it as a structured one.
  std::string joinedValue() const {
    std::string out;
    for (const auto& piece : values()) out += (out.empty() ? "" : ";") + piece;
    return trimmed(out);
  }
  // Every value of the parameters named `name` (any case), lower-cased and
  // split at commas.
  std::vector<std::string> param(std::string_view name) const {
    std::vector<std::string> out;
    for (GList* p = e_vcard_attribute_get_params(raw); p; p = p->next) {
      auto* param = static_cast<EVCardAttributeParam*>(p->data);
      const char* paramName = e_vcard_attribute_param_get_name(param);
      if (!paramName || !base::equalsIgnoringAsciiCase(paramName, name)) continue;
      for (GList* v = e_vcard_attribute_param_get_values(param); v; v = v->next) {
        std::string all = base::asciiLowercased(validText(static_cast<char*>(v->data)));
        size_t start = 0;
        while (start <= all.size()) {
          size_t comma = all.find(',', start);
          std::string piece = trimmed(std::string_view(all).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
          if (!piece.empty()) out.push_back(piece);
          if (comma == std::string::npos) break;
          start = comma + 1;
        }
      }
    }
    return out;
  }
  bool hasType(std::string_view type) const {
    auto types = param("TYPE");
    return std::find(types.begin(), types.end(), type) != types.end();
  }
  std::string firstParam(std::string_view name) const {
    auto all = param(name);
    return all.empty() ? std::string() : all.front();
  }
};

// ---- labels --------------------------------------------------------------

std::optional<std::string> placeLabel(const Attribute& attribute) {
  if (attribute.hasType("home")) return std::string(labels::home);
  if (attribute.hasType("work")) return std::string(labels::work);
  if (attribute.hasType("other")) return std::string(labels::other);
  return std::nullopt;
}

std::optional<std::string> phoneLabel(const Attribute& a) {
  if (a.hasType("iphone")) return std::string(labels::iPhone);
  if (a.hasType("cell") || a.hasType("mobile")) return std::string(labels::mobile);
  if (a.hasType("pager")) return std::string(labels::pager);
  if (a.hasType("fax")) {
    if (a.hasType("home")) return std::string(labels::homeFAX);
    if (a.hasType("work")) return std::string(labels::workFAX);
    return std::string(labels::otherFAX);
  }
  if (a.hasType("main")) return std::string(labels::main);
  return placeLabel(a);
}

std::optional<std::string> relationLabel(const Attribute& a) {
  static const std::map<std::string, std::string_view> kRelations{
      {"father", labels::father},   {"mother", labels::mother},       {"parent", labels::parent},
      {"brother", labels::brother}, {"sister", labels::sister},       {"sibling", labels::brother},
      {"child", labels::child},     {"friend", labels::friendLabel},  {"spouse", labels::spouse},
      {"partner", labels::partner}, {"assistant", labels::assistant}, {"manager", labels::manager},
      {"agent", labels::assistant}};
  for (const auto& type : a.param("TYPE"))
    if (auto it = kRelations.find(type); it != kRelations.end()) return std::string(it->second);
  return std::nullopt;
}

// ---- URI values ------------------------------------------------------------

// The address a URI of `scheme` carries: vCard 4.0 writes every TEL as a
// tel: URI ("tel:+86-10-1234-5678") and may write EMAIL as a mailto: one;
// the book holds the number or the address itself. Escapes are decoded
// (kept as written when malformed), a mailto: URI's "?headers" dropped.
// Values without the scheme are returned as they are.
std::string uriAddress(const std::string& value, std::string_view scheme) {
  if (value.size() <= scheme.size() || value[scheme.size()] != ':' ||
      !base::equalsIgnoringAsciiCase(std::string_view(value).substr(0, scheme.size()), scheme))
    return value;
  std::string address = value.substr(scheme.size() + 1);
  if (base::equalsIgnoringAsciiCase(scheme, "mailto")) address = address.substr(0, address.find('?'));
  if (char* decoded = g_uri_unescape_string(address.c_str(), nullptr)) {
    address = decoded;
    g_free(decoded);
  }
  return address;
}

// The attribute's address when its value is a URI of `scheme`, else its
// first value as before.
std::string uriOrValue(const Attribute& a, std::string_view scheme) {
  std::string first = a.value();
  if (first.size() <= scheme.size() || first[scheme.size()] != ':' ||
      !base::equalsIgnoringAsciiCase(std::string_view(first).substr(0, scheme.size()), scheme))
    return first;
  return uriAddress(a.joinedValue(), scheme);
}

// ---- instant messages ----------------------------------------------------

struct MessagingService {
  std::string_view attribute;  // X-JABBER...
  std::string_view scheme;     // xmpp...
  std::string_view service;    // what the book calls it
};

constexpr MessagingService kServices[] = {
    {"X-JABBER", "xmpp", "Jabber"},      {"X-AIM", "aim", "AIM"},        {"X-ICQ", "icq", "ICQ"},
    {"X-MSN", "msnim", "MSN"},           {"X-YAHOO", "ymsgr", "Yahoo"},  {"X-SKYPE", "skype", "Skype"},
    {"X-SKYPE-USERNAME", "", "Skype"},   {"X-GADUGADU", "gg", "GaduGadu"}, {"X-QQ", "qq", "QQ"},
    {"X-GOOGLE-TALK", "gtalk", "GoogleTalk"}, {"X-FACEBOOK", "fb", "Facebook"},
};

std::optional<PersonDictionary> instantMessage(const Attribute& a, const std::string& name) {
  std::string service, username;
  if (name == "IMPP") {
    std::string value = a.joinedValue();
    auto colon = value.find(':');
    std::string scheme = colon == std::string::npos ? std::string() : base::asciiLowercased(value.substr(0, colon));
    username = colon == std::string::npos ? value : uriAddress(value, value.substr(0, colon));
    service = a.firstParam("X-SERVICE-TYPE");
    if (service.empty()) {
      for (const auto& known : kServices)
        if (!known.scheme.empty() && known.scheme == scheme) service = known.service;
    } else {
      for (const auto& known : kServices)
        if (base::equalsIgnoringAsciiCase(known.service, service)) service = known.service;
    }
    if (service.empty()) service = scheme;
  } else {
    for (const auto& known : kServices)
      if (base::equalsIgnoringAsciiCase(known.attribute, name)) service = known.service;
    if (service.empty()) return std::nullopt;
    username = a.value();
  }
  if (username.empty()) return std::nullopt;
  return PersonDictionary{{std::string(keys::service), service}, {std::string(keys::username), username}};
}

bool isInstantMessage(const std::string& name) {
  if (name == "IMPP") return true;
  return std::any_of(std::begin(kServices), std::end(kServices),
                     [&](const MessagingService& s) { return base::equalsIgnoringAsciiCase(s.attribute, name); });
}

// ---- building a person -----------------------------------------------------

class PersonBuilder {
 public:
  explicit PersonBuilder(EVCard* card) : card_(card) {
    for (GList* item = e_vcard_get_attributes(card); item; item = item->next) {
      Attribute a{static_cast<EVCardAttribute*>(item->data)};
      std::string group = a.group();
      if (group.empty()) continue;
      std::string name = a.name();
      if (base::equalsIgnoringAsciiCase(name, "X-ABLabel")) groupLabels_[base::asciiLowercased(group)] = a.value();
      if (base::equalsIgnoringAsciiCase(name, "X-ABADR")) groupCountryCodes_[base::asciiLowercased(group)] = a.value();
    }
  }

  Person build(int32_t id) {
    person_.id = id;
    bool haveName = false;
    std::string formattedName;
    bool organization = false;
    for (GList* item = e_vcard_get_attributes(card_); item; item = item->next) {
      Attribute a{static_cast<EVCardAttribute*>(item->data)};
      std::string name = a.name();
      for (char& c : name) c = base::asciiUpper(c);
      if (name == "N") {
        haveName = readName(a) || haveName;
      } else if (name == "FN") {
        formattedName = a.value();
      } else if (name == "NICKNAME") {
        text(PersonProperty::nickname, a.value());
      } else if (name == "X-PHONETIC-FIRST-NAME") {
        text(PersonProperty::firstNamePhonetic, a.value());
      } else if (name == "X-PHONETIC-LAST-NAME") {
        text(PersonProperty::lastNamePhonetic, a.value());
      } else if (name == "X-PHONETIC-MIDDLE-NAME") {
        text(PersonProperty::middleNamePhonetic, a.value());
      } else if (name == "ORG") {
        text(PersonProperty::organization, a.value(0));
        text(PersonProperty::department, a.value(1));
      } else if (name == "TITLE") {
        text(PersonProperty::jobTitle, a.value());
      } else if (name == "NOTE") {
        text(PersonProperty::note, a.value());
      } else if (name == "BDAY") {
        date(PersonProperty::birthday, a.value());
      } else if (name == "REV") {
        date(PersonProperty::modificationDate, a.value());
      } else if (name == "KIND") {
        std::string kind = base::asciiLowercased(a.value());
        organization = organization || kind == "org" || kind == "organization";
      } else if (name == "X-ABSHOWAS") {
        organization = organization || base::equalsIgnoringAsciiCase(a.value(), "COMPANY");
      } else if (name == "EMAIL") {
        entry(PersonProperty::email, kStringPropertyType, a, placeLabel(a), uriOrValue(a, "mailto"));
      } else if (name == "TEL") {
        entry(PersonProperty::phone, kStringPropertyType, a, phoneLabel(a), uriOrValue(a, "tel"));
      } else if (name == "URL") {
        entry(PersonProperty::url, kStringPropertyType, a, placeLabel(a), a.value());
      } else if (name == "ADR") {
        if (auto address = readAddress(a)) entry(PersonProperty::address, kDictionaryPropertyType, a, placeLabel(a), *address);
      } else if (name == "X-ABDATE") {
        if (auto when = parseVCardDate(a.value())) entry(PersonProperty::date, kDatePropertyType, a, std::nullopt, *when);
      } else if (name == "ANNIVERSARY" || name == "X-ANNIVERSARY" || name == "X-EVOLUTION-ANNIVERSARY") {
        if (auto when = parseVCardDate(a.value()))
          entry(PersonProperty::date, kDatePropertyType, a, std::string(labels::anniversary), *when);
      } else if (name == "X-ABRELATEDNAMES" || name == "RELATED") {
        entry(PersonProperty::relatedNames, kStringPropertyType, a, relationLabel(a), a.value());
      } else if (name == "X-SOCIALPROFILE") {
        if (auto profile = readSocialProfile(a)) entry(PersonProperty::socialProfile, kDictionaryPropertyType, a, std::nullopt, *profile);
      } else if (isInstantMessage(name)) {
        if (auto message = instantMessage(a, name))
          entry(PersonProperty::instantMessage, kDictionaryPropertyType, a, placeLabel(a), *message);
      }
    }
    // A card with a formatted name only (common in vCard 4) still has a name.
    if (!haveName && !formattedName.empty())
      text(organization ? PersonProperty::organization : PersonProperty::firstName, formattedName);
    set(PersonProperty::kind, PersonValue(organization ? kPersonKindOrganization : kPersonKindPerson));
    for (auto& [property, multi] : multi_)
      person_.properties.emplace_back(property, std::variant<PersonValue, MultiValue>(std::in_place_index<1>, std::move(multi)));
    std::stable_sort(person_.properties.begin(), person_.properties.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    person_.image = readPhoto();
    return std::move(person_);
  }

 private:
  // `value` is a PersonValue or a MultiValue.
  template <class Value>
  void set(PersonProperty property, Value&& value) {
    for (auto& [key, existing] : person_.properties) {
      if (key == property) return;  // the first occurrence counts
    }
    person_.properties.emplace_back(property, std::forward<Value>(value));
  }

  void text(PersonProperty property, const std::string& value) {
    if (!value.empty()) set(property, PersonValue(value));
  }

  void date(PersonProperty property, const std::string& value) {
    if (auto when = parseVCardDate(value)) set(property, PersonValue(*when));
  }

  bool readName(const Attribute& a) {
    auto values = a.values();
    bool any = false;
    constexpr PersonProperty order[] = {PersonProperty::lastName, PersonProperty::firstName, PersonProperty::middleName,
                                        PersonProperty::prefix, PersonProperty::suffix};
    for (size_t i = 0; i < std::size(order) && i < values.size(); ++i) {
      std::string value = trimmed(values[i]);
      if (value.empty()) continue;
      text(order[i], value);
      any = true;
    }
    return any;
  }

  std::optional<PersonDictionary> readAddress(const Attribute& a) {
    auto values = a.values();
    values.resize(7);
    PersonDictionary address;
    std::string street;
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}}) {
      std::string line = trimmed(values[i]);
      if (line.empty()) continue;
      if (!street.empty()) street += "\n";
      street += line;
    }
    auto add = [&](std::string_view key, const std::string& value) {
      if (!value.empty()) address.emplace_back(std::string(key), value);
    };
    add(keys::street, street);
    add(keys::city, trimmed(values[3]));
    add(keys::state, trimmed(values[4]));
    add(keys::zip, trimmed(values[5]));
    add(keys::country, trimmed(values[6]));
    if (auto it = groupCountryCodes_.find(base::asciiLowercased(a.group())); it != groupCountryCodes_.end())
      add(keys::countryCode, base::asciiLowercased(it->second));
    if (address.empty()) return std::nullopt;
    return address;
  }

  std::optional<PersonDictionary> readSocialProfile(const Attribute& a) {
    std::string url = a.value();
    std::string service = a.firstParam("TYPE");
    std::string user = a.firstParam("X-USER");
    if (url.empty() && user.empty()) return std::nullopt;
    PersonDictionary profile;
    if (!url.empty()) profile.emplace_back(std::string(keys::url), url);
    if (!service.empty()) profile.emplace_back(std::string(keys::service), service);
    if (!user.empty()) profile.emplace_back(std::string(keys::username), user);
    return profile;
  }

  void entry(PersonProperty property, PropertyType elementType, const Attribute& a, std::optional<std::string> label,
             PersonValue value) {
    if (const auto* text = std::get_if<std::string>(&value); text && text->empty()) return;
    if (std::string group = a.group(); !group.empty()) {
      if (auto it = groupLabels_.find(base::asciiLowercased(group)); it != groupLabels_.end() && !it->second.empty())
        label = it->second;
    }
    auto [it, inserted] = multi_.try_emplace(property);
    it->second.elementType = elementType;
    it->second.entries.push_back({std::move(label), std::move(value)});
  }

  std::optional<ImageData> readPhoto() {
    if (!E_IS_CONTACT(card_)) return std::nullopt;
    std::optional<ImageData> image;
    if (auto* photo = static_cast<EContactPhoto*>(e_contact_get(E_CONTACT(card_), E_CONTACT_PHOTO))) {
      if (photo->type == E_CONTACT_PHOTO_TYPE_INLINED && photo->data.inlined.length > 0) {
        const auto* data = photo->data.inlined.data;
        image = std::vector<uint8_t>(data, data + photo->data.inlined.length);
      } else if (photo->type == E_CONTACT_PHOTO_TYPE_URI && photo->data.uri) {
        image = dataURI(photo->data.uri);
      }
      e_contact_photo_free(photo);
    }
    if (image) return image;
    // A data: URI without VALUE=uri is not a picture to the parser.
    for (GList* item = e_vcard_get_attributes(card_); item && !image; item = item->next) {
      Attribute a{static_cast<EVCardAttribute*>(item->data)};
      if (base::equalsIgnoringAsciiCase(a.name(), "PHOTO")) image = dataURI(a.value());
    }
    return image;
  }

  // The bytes of a "data:<type>;base64,<text>" URI; none for any other
  // address (files and web addresses are never fetched).
  static std::optional<ImageData> dataURI(std::string_view uri) {
    if (!uri.starts_with("data:")) return std::nullopt;
    size_t comma = uri.find(',');
    if (comma == std::string_view::npos || uri.substr(0, comma).find(";base64") == std::string_view::npos)
      return std::nullopt;
    std::string text(uri.substr(comma + 1));
    gsize length = 0;
    guchar* bytes = g_base64_decode(text.c_str(), &length);
    std::optional<ImageData> image;
    if (bytes && length > 0) image = std::vector<uint8_t>(bytes, bytes + length);
    g_free(bytes);
    return image;
  }

  EVCard* card_;
  Person person_;
  std::map<PersonProperty, MultiValue> multi_;
  std::map<std::string, std::string> groupLabels_;        // group (lower case) -> X-ABLabel
  std::map<std::string, std::string> groupCountryCodes_;  // group (lower case) -> X-ABADR
};


}  // namespace

Person personFromVCard(EVCard* card, int32_t id) { return PersonBuilder(card).build(id); }

int32_t personRecordId(std::string_view key, std::set<int32_t>& used) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : key) hash = (hash ^ c) * 16777619u;
  auto id = static_cast<int32_t>(hash & 0x7fffffffu);
  if (id == 0) id = 1;
  while (!used.insert(id).second) id = id == INT32_MAX ? 1 : id + 1;
  return id;
}

std::string vCardUID(EVCard* card) {
  std::string uid;
  for (GList* item = e_vcard_get_attributes(card); item; item = item->next) {
    Attribute a{static_cast<EVCardAttribute*>(item->data)};
    if (base::equalsIgnoringAsciiCase(a.name(), "UID")) uid = a.value();
  }
  return uid;
}

std::optional<PersonDate> parseVCardDate(std::string_view raw) {
  std::string text = trimmed(raw);
  if (text.empty()) return std::nullopt;
  using namespace std::chrono;
  auto noonOf = [](int y, unsigned m, unsigned d) -> std::optional<PersonDate> {
    year_month_day day{year{y}, month{m}, std::chrono::day{d}};
    if (!day.ok()) return std::nullopt;
    return PersonDate(sys_days(day)) + hours(12);
  };
  auto digits = [](std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }); };
  auto number = [](std::string_view s) { return std::stoi(std::string(s)); };
  if (text.find('T') == std::string::npos) {
    std::string compact;
    for (char c : text)
      if (c != '-') compact += c;
    bool noYear = text.starts_with("--");
    if (noYear && compact.size() == 4 && digits(compact))
      return noonOf(1604, number(compact.substr(0, 2)), number(compact.substr(2, 2)));
    if (!noYear && compact.size() == 8 && digits(compact))
      return noonOf(number(compact.substr(0, 4)), number(compact.substr(4, 2)), number(compact.substr(6, 2)));
    return std::nullopt;
  }
  GTimeZone* utc = g_time_zone_new_utc();
  GDateTime* parsed = g_date_time_new_from_iso8601(text.c_str(), utc);
  g_time_zone_unref(utc);
  if (!parsed) return std::nullopt;
  PersonDate when{seconds{g_date_time_to_unix(parsed)}};
  g_date_time_unref(parsed);
  return when;
}


}  // namespace tavero::platform
