// The address book as a folder of vCard files (*.vcf, *.vcard; each may
// hold several cards), read with Evolution Data Server's vCard parser
// (libebook-contacts): vCard 2.1, 3.0 and 4.0, folded lines, quoted-
// printable and base64 values, Apple's grouped X-ABLabel labels.
//
// Each card becomes a person as VCardPerson.h says.
// Record identifiers are made from each card's UID (or, without one, its
// file name and place in the file), so they stay the same from one read to
// the next while the card is there. Pictures are read from inline data
// only: a PHOTO that points at a file or a web address is never fetched.
//
// Thread rules: any thread.
#pragma once

#include <atomic>
#include <filesystem>

#include "platform/AddressBook.h"
#include "platform/ImageProcessor.h"

namespace tavero::platform {

class VCardAddressBook : public AddressBook {
 public:
  static constexpr int kThumbnailSide = kPersonThumbnailSide;
  static constexpr std::uintmax_t kMaxFileBytes = 32 * 1024 * 1024;

  // `processor` makes the thumbnails; it must outlive the book.
  VCardAddressBook(std::filesystem::path folder, AddressBookAccess access, const ImageProcessor& processor);

  void requestAccess(std::function<void(bool granted)> answer) override;
  std::vector<Person> people() override;
  std::optional<Person> person(int32_t id) override;
  std::optional<std::vector<uint8_t>> thumbnailImageData(const Person& person) override;

  // The user's answer to the access question from now on.
  void setAccess(AddressBookAccess access) { access_ = access; }
  AddressBookAccess access() const { return access_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::atomic<AddressBookAccess> access_;
  const ImageProcessor& processor_;
};

// The people of one vCard text (one or more cards), in order; ids are
// given from `fileName` as the folder reader does.
std::vector<Person> peopleFromVCardText(std::string_view text, std::string_view fileName);

}  // namespace tavero::platform
