#include "platform/linux/LazyAddressBook.h"

#include "log/Log.h"
#include "platform/linux/AddressBookModule.h"

namespace tavero::platform {

LazyAddressBook::LazyAddressBook(Options options, const ImageProcessor& processor)
    : options_(std::move(options)), processor_(processor) {}

LazyAddressBook::~LazyAddressBook() {
  if (book_) table_->destroyBook(book_);
}

void LazyAddressBook::makeBook() {
  auto loaded = AddressBookModule::load(options_.module);
  if (auto* why = std::get_if<std::string>(&loaded)) {
    loadError_ = *why;
    log::error("contacts: " + loadError_ + "; pages find no one in the address book");
    return;
  }
  table_ = std::get<const AddressBookModuleTable*>(loaded);
  std::lock_guard lock(mutex_);
  book_ = table_->makeBook(options_.kind, options_.folder, options_.access, processor_);
}

AddressBook* LazyAddressBook::book() {
  std::call_once(loaded_, [this] { makeBook(); });
  return book_;
}

void LazyAddressBook::requestAccess(std::function<void(bool granted)> answer) {
  if (auto* real = book()) return real->requestAccess(std::move(answer));
  answer(false);
}

std::vector<Person> LazyAddressBook::people() {
  if (auto* real = book()) return real->people();
  return {};
}

std::optional<Person> LazyAddressBook::person(int32_t id) {
  if (auto* real = book()) return real->person(id);
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> LazyAddressBook::thumbnailImageData(const Person& person) {
  if (auto* real = book()) return real->thumbnailImageData(person);
  return std::nullopt;
}

void LazyAddressBook::setAccess(AddressBookAccess access) {
  // Before the book is made, the answer waits here and the book starts with it.
  std::lock_guard lock(mutex_);
  options_.access = access;
  if (book_) table_->setAccess(*book_, options_.kind, access);
}

std::variant<std::vector<Person>, std::string> LazyAddressBook::readPeople() {
  if (auto* real = book()) return table_->readPeople(*real, options_.kind);
  return loadError_;
}

}  // namespace tavero::platform
