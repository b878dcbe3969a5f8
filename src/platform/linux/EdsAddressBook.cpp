#include "platform/linux/EdsAddressBook.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook/libebook.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <set>

#include "base/FileRead.h"
#include "log/Log.h"
#include "platform/linux/GLibWorkerThread.h"
#include "platform/linux/VCardPerson.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

// Do not wait for a book to go online (a remote book is read from its cache
// while offline); 0 would wait for ever.
constexpr guint32 kDoNotWaitForConnected = static_cast<guint32>(-1);

constexpr const char* kRegistryService = "org.gnome.evolution.dataserver.Sources5";

std::string messageOf(GError* error) {
  std::string message = error && error->message ? error->message : "unknown error";
  g_clear_error(&error);
  return message;
}

// The built-in "Personal" book first, then the others by source UID.
bool readsBefore(ESource* a, ESource* b) {
  std::string_view first = e_source_get_uid(a), second = e_source_get_uid(b);
  constexpr std::string_view builtIn = "system-address-book";
  if ((first == builtIn) != (second == builtIn)) return first == builtIn;
  return first < second;
}

bool isDirectory(ESource* source) {
  auto* extension = static_cast<ESourceBackend*>(e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK));
  const char* backend = e_source_backend_get_backend_name(extension);
  return backend && std::string_view(backend) == "ldap";
}

std::string nameOf(ESource* source) {
  const char* name = e_source_get_display_name(source);
  return std::string(name && *name ? name : e_source_get_uid(source));
}

// The sexp of a query every contact matches.
std::string everyoneQuery() {
  EBookQuery* query = e_book_query_any_field_contains("");
  gchar* text = e_book_query_to_string(query);
  std::string sexp = text;
  g_free(text);
  e_book_query_unref(query);
  return sexp;
}

std::vector<fs::path> canonicalFolders(std::vector<fs::path> folders) {
  if (folders.empty()) {
    folders = {fs::path(e_get_user_data_dir()) / "addressbook", fs::path(e_get_user_cache_dir()) / "addressbook"};
  }
  for (fs::path& folder : folders) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(folder, ec);
    if (!ec) folder = canonical;
    if (folder.has_parent_path() && folder.filename().empty()) folder = folder.parent_path();  // "dir/"
  }
  return folders;
}

bool isInside(const fs::path& file, const fs::path& folder) {
  auto [fileEnd, folderEnd] = std::mismatch(file.begin(), file.end(), folder.begin(), folder.end());
  return folderEnd == folder.end() && fileEnd != file.end();
}

// Starts EDS's source registry on the session bus unless it runs: why it
// cannot, or none. The registry's own constructor neither fails when no
// service provides it nor gives up when the service hangs; this call does
// both (and it is cancellable).
std::optional<std::string> startRegistryService(GCancellable* cancellable) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, &error);
  if (!bus) return messageOf(error);
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "StartServiceByName",
      g_variant_new("(su)", kRegistryService, 0u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, cancellable,
      &error);
  g_object_unref(bus);
  if (!reply) {
    g_dbus_error_strip_remote_error(error);
    return messageOf(error);
  }
  g_variant_unref(reply);
  return std::nullopt;
}

}  // namespace

// The registry and the opened books, by source UID in reading order.
struct EdsAddressBook::Connection {
  ESourceRegistry* registry = nullptr;
  std::vector<std::pair<std::string, EBookClient*>> books;
  std::set<std::string> reportedFailures;  // books whose opening failed, logged once

  ~Connection() { dropAll(); }

  void dropAll() {
    for (auto& [uid, client] : books) g_object_unref(client);
    books.clear();
    if (registry) g_object_unref(registry);
    registry = nullptr;
  }

  void dropBook(const std::string& uid) {
    auto it = std::find_if(books.begin(), books.end(), [&](const auto& book) { return book.first == uid; });
    if (it == books.end()) return;
    g_object_unref(it->second);
    books.erase(it);
  }

  EBookClient* takeBook(const std::string& uid) {
    auto it = std::find_if(books.begin(), books.end(), [&](const auto& book) { return book.first == uid; });
    if (it == books.end()) return nullptr;
    EBookClient* client = it->second;
    books.erase(it);
    return client;
  }
};

EdsAddressBook::EdsAddressBook(Options options, const ImageProcessor& processor)
    : access_(options.access),
      timeout_(options.timeout),
      pictureFolders_(canonicalFolders(std::move(options.pictureFolders))),
      processor_(processor),
      connection_(std::make_unique<Connection>()),
      worker_(std::make_unique<GLibWorkerThread>("tavero-eds")) {}

EdsAddressBook::~EdsAddressBook() {
  // The registry and the clients go on the thread that made them.
  worker_->run<bool>([this](GCancellable*) {
    connection_->dropAll();
    return true;
  }, timeout_);
  worker_.reset();
}

std::optional<std::string> EdsAddressBook::openBooks(GCancellable* cancellable) {
  Connection& connection = *connection_;
  GError* error = nullptr;
  if (!connection.registry) {
    if (auto why = startRegistryService(cancellable)) return "its source registry cannot be reached (" + *why + ")";
    connection.registry = e_source_registry_new_sync(cancellable, &error);
    if (!connection.registry) return "its source registry cannot be reached (" + messageOf(error) + ")";
  }
  GList* listed = e_source_registry_list_enabled(connection.registry, E_SOURCE_EXTENSION_ADDRESS_BOOK);
  std::vector<ESource*> sources;
  for (GList* item = listed; item; item = item->next)
    if (!isDirectory(E_SOURCE(item->data))) sources.push_back(E_SOURCE(item->data));
  std::sort(sources.begin(), sources.end(), readsBefore);

  std::vector<std::pair<std::string, EBookClient*>> opened;
  std::string failures;
  for (ESource* source : sources) {
    std::string uid = e_source_get_uid(source);
    EBookClient* client = connection.takeBook(uid);
    if (!client) {
      EClient* made = e_book_client_connect_sync(source, kDoNotWaitForConnected, cancellable, &error);
      if (!made) {
        std::string why = "the address book \"" + nameOf(source) + "\" cannot be opened (" + messageOf(error) + ")";
        if (connection.reportedFailures.insert(uid).second) log::warning("contacts: " + why);
        failures += (failures.empty() ? "" : "; ") + why;
        continue;
      }
      connection.reportedFailures.erase(uid);
      client = E_BOOK_CLIENT(made);
    }
    opened.emplace_back(std::move(uid), client);
  }
  g_list_free_full(listed, g_object_unref);
  for (auto& [uid, client] : connection.books) g_object_unref(client);  // books no longer enabled
  connection.books = std::move(opened);
  if (!connection.books.empty()) return std::nullopt;
  // The registry may belong to a service that went away: ask afresh next time.
  connection.dropAll();
  return failures.empty() ? "it lists no enabled address book" : failures;
}

std::variant<std::vector<Person>, std::string> EdsAddressBook::readBooks(GCancellable* cancellable) {
  if (auto why = openBooks(cancellable)) return *why;
  static const std::string query = everyoneQuery();
  std::vector<Person> everyone;
  std::set<int32_t> used;
  std::vector<std::string> failed;
  for (auto& [sourceUid, client] : connection_->books) {
    GSList* contacts = nullptr;
    GError* error = nullptr;
    if (!e_book_client_get_contacts_sync(client, query.c_str(), &contacts, cancellable, &error)) {
      log::warning("contacts: the address book " + sourceUid + " cannot be read: " + messageOf(error));
      failed.push_back(sourceUid);
      continue;
    }
    int index = 0;
    for (GSList* item = contacts; item; item = item->next, ++index) {
      EContact* contact = E_CONTACT(item->data);
      std::string uid = vCardUID(E_VCARD(contact));
      std::string key = "eds:" + sourceUid + (uid.empty() ? "#" + std::to_string(index) : "/" + uid);
      Person person = personFromVCard(E_VCARD(contact), personRecordId(key, used));
      if (!person.image) {
        auto* photo = static_cast<EContactPhoto*>(e_contact_get(contact, E_CONTACT_PHOTO));
        if (photo && photo->type == E_CONTACT_PHOTO_TYPE_URI && photo->data.uri)
          person.image = pictureFromFile(photo->data.uri);
        if (photo) e_contact_photo_free(photo);
      }
      everyone.push_back(std::move(person));
    }
    g_slist_free_full(contacts, g_object_unref);
  }
  for (const std::string& uid : failed) connection_->dropBook(uid);  // opened afresh next time
  return everyone;
}

// Evolution Data Server keeps the pictures it is given inline as files of
// its own and hands out their file: URIs.
std::optional<ImageData> EdsAddressBook::pictureFromFile(const std::string& uri) const {
  gchar* filename = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
  if (!filename) return std::nullopt;  // not a file: URI (a web address is never fetched)
  std::error_code ec;
  fs::path file = fs::weakly_canonical(filename, ec);
  g_free(filename);
  if (ec || std::none_of(pictureFolders_.begin(), pictureFolders_.end(),
                         [&](const fs::path& folder) { return isInside(file, folder); }))
    return std::nullopt;
  base::FileRead read = base::readFile(file, kMaxPictureBytes);
  if (read.result == base::FileRead::Result::tooLarge)
    log::warning("contacts: the picture " + file.string() + " is larger than " +
                 std::to_string(kMaxPictureBytes / (1024 * 1024)) + " MiB; skipped");
  if (!read.ok() || read.text.empty()) return std::nullopt;
  return ImageData(std::vector<uint8_t>(read.text.begin(), read.text.end()));
}

std::string EdsAddressBook::timedOutText() const {
  return "it did not answer within " + std::to_string(timeout_.count()) + " ms";
}

void EdsAddressBook::noteUnavailable(const std::string& why) {
  std::lock_guard lock(reportMutex_);
  if (why == reportedUnavailability_) return;
  reportedUnavailability_ = why;
  log::warning("contacts: the desktop's address book (Evolution Data Server) is not available: " + why +
               "; access to the contacts is denied");
}

void EdsAddressBook::noteAvailable() {
  std::lock_guard lock(reportMutex_);
  if (!reportedUnavailability_.empty()) log::info("contacts: the desktop's address book answers again");
  reportedUnavailability_.clear();
}

void EdsAddressBook::requestAccess(std::function<void(bool granted)> answer) {
  if (access_.load() != AddressBookAccess::granted) return answer(false);
  auto failure = worker_->run<std::optional<std::string>>(
      [this](GCancellable* cancellable) { return openBooks(cancellable); }, timeout_);
  std::optional<std::string> why = failure ? *failure : timedOutText();
  if (why) {
    noteUnavailable(*why);
    return answer(false);
  }
  noteAvailable();
  answer(true);
}

std::variant<std::vector<Person>, std::string> EdsAddressBook::readPeople() {
  using Read = std::variant<std::vector<Person>, std::string>;
  auto read = worker_->run<Read>([this](GCancellable* cancellable) { return readBooks(cancellable); }, timeout_);
  if (!read) read = Read(timedOutText());
  if (auto* why = std::get_if<std::string>(&*read))
    noteUnavailable(*why);
  else
    noteAvailable();
  return std::move(*read);
}

std::vector<Person> EdsAddressBook::people() {
  auto read = readPeople();
  if (auto* everyone = std::get_if<std::vector<Person>>(&read)) return std::move(*everyone);
  return {};
}

std::optional<Person> EdsAddressBook::person(int32_t id) {
  for (Person& person : people())
    if (person.id == id) return std::move(person);
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> EdsAddressBook::thumbnailImageData(const Person& person) {
  return personThumbnail(person, processor_);
}

}  // namespace tavero::platform
