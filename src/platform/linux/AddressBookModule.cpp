#include "platform/linux/AddressBookModule.h"

#include <dlfcn.h>

#include <cstring>

namespace tavero::platform {

std::variant<const AddressBookModuleTable*, std::string> AddressBookModule::load(const std::filesystem::path& file) {
  if (file.empty()) return std::string("the address book module (") + kFileName + ") is not installed beside tavero";
  // RTLD_LOCAL: the module's symbols (its own copies of the shared code)
  // stay its own and never stand in for the program's.
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    return "cannot load the address book module " + file.string() + ": " + (why ? why : "unknown error");
  }
  auto entry = reinterpret_cast<AddressBookModuleEntry>(::dlsym(handle, kAddressBookModuleEntry));
  const AddressBookModuleTable* table = entry ? entry() : nullptr;
  if (!table || std::strcmp(table->build, TAVERO_BUILD_ID) != 0) {
    std::string why = !table ? file.string() + " is not an address book module"
                             : file.string() + " comes from another build of tavero (" + table->build +
                                   ", this is " + TAVERO_BUILD_ID + ")";
    ::dlclose(handle);  // nothing of it was used
    return why;
  }
  table->useLog(&log::write);
  return table;
}

}  // namespace tavero::platform
