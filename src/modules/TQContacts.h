// The contacts module: every person of the address book as a flat record
// (`all`), one person's picture as a data URL (`getThumbnail`), and the
// English name of a field or label (`getLocalizedLabel`).
//
// A record holds `id`, one entry per property the person has under its key
// (first_name, phones...) and, when asked for, `thumbnail`. Multi-valued
// properties become a dictionary keyed "<subkey>:<label>:<n>" (n is 0 for
// a label used once, else 1, 2... in entry order) when any entry has a
// label, else an array of the values. Dates are texts like
// "1980-04-12 12:00:00 +0000". Answers go to the start page.
//
// Thread rules: any thread; the module keeps no state between calls.
#pragma once

#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/AddressBook.h"
#include "platform/ImageProcessor.h"

namespace tavero::modules {

class TQContacts : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQContacts";
  static constexpr std::string_view kDeniedText = "The user denied access to the Address Book";
  static constexpr int kThumbnailQuality = 70;

  TQContacts(bridge::CallbackDelivery& callbacks, platform::AddressBook& book,
             const platform::ImageProcessor& processor);

  void all(bridge::Invocation& call);
  void getThumbnail(bridge::Invocation& call);
  void getLocalizedLabel(bridge::Invocation& call);

  // The key of a property ("first_name"), or its id in decimal.
  static std::string keyForProperty(int32_t property);
  // The entry name of a multi-valued property ("phone"), or its id in decimal.
  static std::string subkeyForProperty(int32_t property);

  json::Object dictionaryForPerson(const platform::Person& person, bool includeImages);
  // "data:image/jpg;base64,..." of the person's picture, or none.
  std::optional<std::string> thumbnailForPerson(const platform::Person& person);
  std::string localizedLabelForKey(std::string_view label);

 private:
  void updateDictionary(json::Object& record, int32_t property, const platform::Person& person);

  bridge::CallbackDelivery& callbacks_;
  platform::AddressBook& book_;
  const platform::ImageProcessor& processor_;
};

}  // namespace tavero::modules
