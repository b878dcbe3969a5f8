// The address book module's entry: the table of AddressBookModuleTable.h.
// Compiled into libtavero-address-books.so only.
#include "platform/linux/AddressBookModuleTable.h"
#include "platform/linux/EdsAddressBook.h"
#include "platform/linux/VCardAddressBook.h"

namespace tavero::platform {
namespace {

void useLog(void (*write)(log::Level, std::string_view)) {
  // The program's log filters by level; the module passes every line on.
  log::setMinimumLevel(log::Level::Debug);
  log::setSink([write](log::Level level, std::string_view line) { write(level, line); });
}

AddressBook* makeBook(AddressBookKind kind, const std::filesystem::path& folder, AddressBookAccess access,
                      const ImageProcessor& processor) {
  if (kind == AddressBookKind::system) return new EdsAddressBook({.access = access}, processor);
  return new VCardAddressBook(folder, access, processor);
}

void destroyBook(AddressBook* book) { delete book; }

void setAccess(AddressBook& book, AddressBookKind kind, AddressBookAccess access) {
  if (kind == AddressBookKind::system)
    static_cast<EdsAddressBook&>(book).setAccess(access);
  else
    static_cast<VCardAddressBook&>(book).setAccess(access);
}

std::variant<std::vector<Person>, std::string> readPeople(AddressBook& book, AddressBookKind kind) {
  if (kind == AddressBookKind::system) return static_cast<EdsAddressBook&>(book).readPeople();
  return book.people();
}

constexpr AddressBookModuleTable kTable{
    .build = TAVERO_BUILD_ID,
    .useLog = useLog,
    .makeBook = makeBook,
    .destroyBook = destroyBook,
    .setAccess = setAccess,
    .readPeople = readPeople,
};

}  // namespace
}  // namespace tavero::platform

extern "C" [[gnu::visibility("default")]] const tavero::platform::AddressBookModuleTable* tavero_address_book_module() {
  return &tavero::platform::kTable;
}
