// Loads the address book module (AddressBookModuleTable.h) and checks that
// it comes from the same build as the program. A module stays loaded for the
// rest of the process: its libraries start threads and register GLib types,
// which cannot be undone.
//
// Thread rules: any thread.
#pragma once

#include <filesystem>
#include <string>
#include <variant>

#include "platform/linux/AddressBookModuleTable.h"

namespace tavero::platform {

class AddressBookModule {
 public:
  static constexpr const char* kFileName = "libtavero-address-books.so";
  // The module's table, or why it cannot be used (no such file, not a
  // module, another build's).
  static std::variant<const AddressBookModuleTable*, std::string> load(const std::filesystem::path& file);
};

}  // namespace tavero::platform
