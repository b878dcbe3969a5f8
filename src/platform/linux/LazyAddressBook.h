// An address book that loads the address book module (AddressBookModule.h)
// and makes the real book (the vCard folder's or the desktop's) the first
// time someone reads it. Until then, and when the module cannot be loaded
// (said once in the log), it answers what a book without access would:
// access denied, nobody in it.
//
// Thread rules: any thread; the first read on any thread loads the module
// while the others wait for it.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/AddressBook.h"
#include "platform/ImageProcessor.h"
#include "platform/linux/AddressBookModuleTable.h"

namespace tavero::platform {

class LazyAddressBook : public AddressBook {
 public:
  struct Options {
    AddressBookKind kind = AddressBookKind::vCardFolder;
    std::filesystem::path folder;  // the vCard folder (kind vCardFolder)
    AddressBookAccess access = AddressBookAccess::granted;
    std::filesystem::path module;  // the module's file; empty: none was found
  };
  // `processor` makes the thumbnails; it must outlive the book.
  LazyAddressBook(Options options, const ImageProcessor& processor);
  ~LazyAddressBook() override;
  LazyAddressBook(const LazyAddressBook&) = delete;
  LazyAddressBook& operator=(const LazyAddressBook&) = delete;

  void requestAccess(std::function<void(bool granted)> answer) override;
  std::vector<Person> people() override;
  std::optional<Person> person(int32_t id) override;
  std::optional<std::vector<uint8_t>> thumbnailImageData(const Person& person) override;

  // The user's answer to the access question from now on.
  void setAccess(AddressBookAccess access);
  // Everyone in the book, or why it cannot be read.
  std::variant<std::vector<Person>, std::string> readPeople();
  AddressBookKind kind() const { return options_.kind; }
  const std::filesystem::path& folder() const { return options_.folder; }
  const std::filesystem::path& module() const { return options_.module; }

 private:
  // The real book, loading the module first; null when it cannot be loaded.
  AddressBook* book();
  void makeBook();

  Options options_;  // access guarded by mutex_
  const ImageProcessor& processor_;
  std::once_flag loaded_;
  std::mutex mutex_;
  const AddressBookModuleTable* table_ = nullptr;  // set once, within loaded_
  AddressBook* book_ = nullptr;                    // set once, within loaded_
  std::string loadError_;                          // set once, within loaded_
};

}  // namespace tavero::platform
