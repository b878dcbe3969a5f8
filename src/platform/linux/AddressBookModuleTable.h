// What the address book module (libtavero-address-books.so) hands the
// program: the vCard folder book and the desktop's book (Evolution Data
// Server) are built into that module and not into the program, so that the
// Evolution Data Server libraries (about two dozen, with their own C++
// dependencies) are loaded and relocated when a page first reads the
// contacts, not on every launch.
//
// The program and the module are built together from the same sources: the
// table carries the version they were built as, and the program refuses a
// module of another build, since the types below cross between them as they
// are.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "log/Log.h"
#include "platform/AddressBook.h"
#include "platform/ImageProcessor.h"

namespace tavero::platform {

enum class AddressBookKind { vCardFolder, system };

struct AddressBookModuleTable {
  // The build both sides must come from.
  const char* build;
  // Sends the module's log lines to the program's log (the module has its
  // own copy of the log, which would otherwise write on its own terms).
  void (*useLog)(void (*write)(log::Level, std::string_view));
  // A book of `kind`: the vCard files in `folder`, or the desktop's books
  // (`folder` unused). Deleted with destroyBook.
  AddressBook* (*makeBook)(AddressBookKind kind, const std::filesystem::path& folder, AddressBookAccess access,
                           const ImageProcessor& processor);
  void (*destroyBook)(AddressBook* book);
  void (*setAccess)(AddressBook& book, AddressBookKind kind, AddressBookAccess access);
  // Everyone in the book, or why the book cannot be read.
  std::variant<std::vector<Person>, std::string> (*readPeople)(AddressBook& book, AddressBookKind kind);
};

// The module's one exported symbol: its table.
inline constexpr const char* kAddressBookModuleEntry = "tavero_address_book_module";
using AddressBookModuleEntry = const AddressBookModuleTable* (*)();

}  // namespace tavero::platform
