// One vCard as a person of the address book, whoever read the card (the
// folder of vCard files, or an address book service that hands out the same
// parser's EVCard objects).
//
// Every property the book knows is mapped: names, phonetic names,
// organization, dates, phones, e-mails, addresses, web pages, instant
// messaging, related names and the inline picture. TYPE parameters become
// the book's labels (TYPE=CELL is labels::mobile, TYPE=HOME,FAX
// labels::homeFAX...); a grouped X-ABLabel (Apple's way) wins over them.
// vCard 4.0's tel: and mailto: URIs give their number or address.
//
// Thread rules: any thread; each call works on the card it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/AddressBook.h"

typedef struct _EVCard EVCard;

namespace tavero::platform {

// The person `card` describes, with record identifier `id`.
Person personFromVCard(EVCard* card, int32_t id);

// The card's UID, or empty when it has none.
std::string vCardUID(EVCard* card);

// The record identifier of the card named `key` (its UID, or its file and
// place: whatever names it from one read to the next), unique among `used`,
// which it joins. Made from a hash of `key`, so the same key gives the same
// id in every read; two keys with one hash take the next free numbers in
// reading order.
int32_t personRecordId(std::string_view key, std::set<int32_t>& used);

// A vCard date or date-time: 1980-04-12, 19800412, --04-12 (no year: the
// year 1604), 2023-01-02T03:04:05Z, 20230102T030405+0100. Dates without a
// time of day are taken at noon UTC, so they show the same day anywhere.
std::optional<PersonDate> parseVCardDate(std::string_view text);

}  // namespace tavero::platform
