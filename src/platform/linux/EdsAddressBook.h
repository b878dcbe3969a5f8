// The address book the desktop keeps: Evolution Data Server's address
// books, read through EBookClient (libebook) on the session bus. Read-only.
//
// Which books: every address book the source registry lists as enabled
// (the built-in "Personal" one first, then the others, CardDAV or online
// accounts' books, in the order of their source UIDs), except LDAP
// directories: an organisation's directory is not the user's people, and
// reading the whole of one is slow or refused.
//
// Each contact becomes a person as VCardPerson.h says (the same mapping as
// the vCard folder). Record identifiers are made from the book's source UID
// and the contact's UID ("eds:<source>/<contact>"), so they stay the same
// from one read to the next while the contact is there. Pictures: inline
// data as in the folder; a PHOTO that names a file is read only inside
// pictureFolders, where Evolution Data Server keeps the pictures it was
// given inline (a file anywhere else, or a web address, is never read).
//
// Access: the profile's answer, and the service must answer: when the
// registry cannot be reached (no Evolution Data Server on the bus), no book
// opens (the address book factory fails) or the service does not answer
// within the timeout, access counts as denied, with one log line saying
// why (again only when the reason changes).
//
// Thread rules: any thread. Every call to Evolution Data Server runs on a
// worker thread of the book's own with its own GLib main context (never on
// the caller's, nor on GTK's main loop); callers wait at most the timeout.
// The registry and the opened books are kept between calls; a book whose
// read fails is opened afresh on the next call.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/AddressBook.h"
#include "platform/ImageProcessor.h"

typedef struct _GCancellable GCancellable;

namespace tavero::platform {

class GLibWorkerThread;

class EdsAddressBook : public AddressBook {
 public:
  static constexpr std::uintmax_t kMaxPictureBytes = 32 * 1024 * 1024;

  struct Options {
    AddressBookAccess access = AddressBookAccess::granted;
    // How long a call waits for the service (starting it on the bus
    // included) before it counts as absent.
    std::chrono::milliseconds timeout = std::chrono::seconds(10);
    // Where pictures named by file may be read; empty: Evolution Data
    // Server's own address book folders in the user's data and cache folders.
    std::vector<std::filesystem::path> pictureFolders{};
  };

  // `processor` makes the thumbnails; it must outlive the book.
  EdsAddressBook(Options options, const ImageProcessor& processor);
  ~EdsAddressBook() override;

  void requestAccess(std::function<void(bool granted)> answer) override;
  std::vector<Person> people() override;
  std::optional<Person> person(int32_t id) override;
  std::optional<std::vector<uint8_t>> thumbnailImageData(const Person& person) override;

  // Everyone in the enabled books, or why they cannot be read.
  std::variant<std::vector<Person>, std::string> readPeople();

  // The user's answer to the access question from now on.
  void setAccess(AddressBookAccess access) { access_ = access; }
  AddressBookAccess access() const { return access_; }

 private:
  struct Connection;

  // On the worker: why no book can be read, or none once at least one is open.
  std::optional<std::string> openBooks(GCancellable* cancellable);
  std::variant<std::vector<Person>, std::string> readBooks(GCancellable* cancellable);
  std::optional<ImageData> pictureFromFile(const std::string& uri) const;
  void noteUnavailable(const std::string& why);
  void noteAvailable();
  std::string timedOutText() const;

  std::atomic<AddressBookAccess> access_;
  const std::chrono::milliseconds timeout_;
  std::vector<std::filesystem::path> pictureFolders_;  // canonical
  const ImageProcessor& processor_;
  std::unique_ptr<Connection> connection_;  // the worker's alone
  std::mutex reportMutex_;
  std::string reportedUnavailability_;  // what was last logged, empty while available
  // Last: the worker ends (and stops using the connection) first.
  std::unique_ptr<GLibWorkerThread> worker_;
};

}  // namespace tavero::platform
