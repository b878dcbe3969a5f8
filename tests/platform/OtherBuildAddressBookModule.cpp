// An address book module as another build of tavero would make it: the
// program must refuse it before calling anything in its table.
#include <cstdlib>

#include "platform/linux/AddressBookModuleTable.h"

namespace {

tavero::platform::AddressBook* neverCalled(tavero::platform::AddressBookKind, const std::filesystem::path&,
                                           tavero::platform::AddressBookAccess,
                                           const tavero::platform::ImageProcessor&) {
  std::abort();
}

constexpr tavero::platform::AddressBookModuleTable kTable{.build = "0.0.0 of another build",
                                                         .useLog = nullptr,
                                                         .makeBook = neverCalled,
                                                         .destroyBook = nullptr,
                                                         .setAccess = nullptr,
                                                         .readPeople = nullptr};

}  // namespace

extern "C" [[gnu::visibility("default")]] const tavero::platform::AddressBookModuleTable* tavero_address_book_module() {
  return &kTable;
}
