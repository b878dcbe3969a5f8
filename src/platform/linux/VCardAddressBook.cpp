#include "platform/linux/VCardAddressBook.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook-contacts/libebook-contacts.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <iterator>
#include <set>

#include "base/AsciiText.h"
#include "base/FileRead.h"
#include "log/Log.h"
#include "platform/linux/VCardPerson.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

// The cards of a text: each from a BEGIN:VCARD line to its END:VCARD line.
std::vector<std::string> splitCards(std::string_view text) {
  std::vector<std::string> cards;
  std::string current;
  bool inside = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end + 1 - start);
    std::string_view bare = base::trimAsciiWhiteSpace(line);
    if (base::equalsIgnoringAsciiCase(bare, "BEGIN:VCARD")) {
      inside = true;
      current.clear();
    }
    if (inside) current += line;
    if (inside && base::equalsIgnoringAsciiCase(bare, "END:VCARD")) {
      cards.push_back(std::move(current));
      current.clear();
      inside = false;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return cards;
}

std::vector<Person> peopleOf(std::string_view text, std::string_view fileName, std::set<int32_t>& used) {
  std::vector<Person> people;
  int index = 0;
  for (const std::string& card : splitCards(text)) {
    EContact* contact = e_contact_new_from_vcard(card.c_str());
    if (!contact) continue;
    std::string uid = vCardUID(E_VCARD(contact));
    std::string key = uid.empty() ? std::string(fileName) + "#" + std::to_string(index) : "uid:" + uid;
    people.push_back(personFromVCard(E_VCARD(contact), personRecordId(key, used)));
    g_object_unref(contact);
    ++index;
  }
  return people;
}

bool isVCardFile(const fs::directory_entry& entry) {
  std::error_code ec;
  if (!entry.is_regular_file(ec)) return false;
  std::string extension = base::asciiLowercased(entry.path().extension().string());
  return extension == ".vcf" || extension == ".vcard";
}

std::optional<std::string> readSmallFile(const fs::path& path) {
  base::FileRead read = base::readFile(path, VCardAddressBook::kMaxFileBytes);
  if (read.result == base::FileRead::Result::tooLarge) {
    log::warning("contacts: " + path.string() + " is larger than " +
                 std::to_string(VCardAddressBook::kMaxFileBytes / (1024 * 1024)) + " MiB; skipped");
  }
  if (!read.ok()) return std::nullopt;
  return std::move(read.text);
}


}  // namespace

std::vector<Person> peopleFromVCardText(std::string_view text, std::string_view fileName) {
  std::set<int32_t> used;
  return peopleOf(text, fileName, used);
}

VCardAddressBook::VCardAddressBook(std::filesystem::path folder, AddressBookAccess access,
                                   const ImageProcessor& processor)
    : folder_(std::move(folder)), access_(access), processor_(processor) {}

void VCardAddressBook::requestAccess(std::function<void(bool granted)> answer) {
  answer(access_.load() == AddressBookAccess::granted);
}

std::vector<Person> VCardAddressBook::people() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec))
    if (isVCardFile(*it)) files.push_back(it->path());
  if (ec && ec != std::errc::no_such_file_or_directory)
    log::warning("contacts: cannot read the folder " + folder_.string() + ": " + ec.message());
  std::sort(files.begin(), files.end());
  std::vector<Person> everyone;
  std::set<int32_t> used;
  for (const fs::path& file : files) {
    auto text = readSmallFile(file);
    if (!text) continue;
    auto people = peopleOf(*text, file.filename().string(), used);
    std::move(people.begin(), people.end(), std::back_inserter(everyone));
  }
  return everyone;
}

std::optional<Person> VCardAddressBook::person(int32_t id) {
  for (Person& person : people())
    if (person.id == id) return std::move(person);
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> VCardAddressBook::thumbnailImageData(const Person& person) {
  return personThumbnail(person, processor_);
}

}  // namespace tavero::platform
