// Evolution Data Server on a private session bus, for tests: a dbus-daemon
// started by the test whose only services are EDS's source registry and
// address book factory (started on demand, as the desktop's bus does), with
// their home, data, settings and caches in a temporary folder, where they
// make a fresh, empty built-in "Personal" address book. While this lives,
// the test process's DBUS_SESSION_BUS_ADDRESS names the bus.
//
// The other kinds stand for a desktop without a working EDS: a bus with no
// service at all, one whose registry never answers (its service only
// sleeps), and one whose address book factory fails at once.
//
// Stopping is bounded and leaves nothing behind: the test process becomes
// the subreaper of what the bus started, so after the bus is stopped the
// services (and their own children) become its children, are told to end
// (killed when they linger) and reaped. The temporary folder is removed.
// A test process killed outright takes the bus with it (its parent-death
// signal), and EDS's services end when their bus goes.
#pragma once

#include <sys/types.h>

typedef struct _GDBusConnection GDBusConnection;

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavero::testing {

class PrivateEds {
 public:
  enum class Services { eds, none, hangingRegistry, failingFactory };

  explicit PrivateEds(Services services = Services::eds);
  ~PrivateEds();
  PrivateEds(const PrivateEds&) = delete;
  PrivateEds& operator=(const PrivateEds&) = delete;

  // Whether dbus-daemon and EDS's services are installed (else: skip).
  static bool installed();

  // Empty once the bus listens, else what went wrong.
  const std::string& failure() const { return failure_; }
  const std::filesystem::path& folder() const { return folder_; }
  // The services' XDG_DATA_HOME and XDG_CACHE_HOME (EDS's books and pictures are below).
  std::filesystem::path dataHome() const { return folder_ / "data"; }
  std::filesystem::path cacheHome() const { return folder_ / "cache"; }
  // What the bus and the services wrote to standard error, for failure messages.
  std::string serviceLog() const;

  // Adds the cards to the built-in address book through EBookClient: the
  // UIDs EDS gave them, in order, or why it failed.
  std::variant<std::vector<std::string>, std::string> addContacts(const std::vector<std::string>& vcards,
                                                                 std::chrono::seconds limit = std::chrono::seconds(30));

  // Every process below the bus now (services and their children).
  std::vector<pid_t> serviceProcesses() const;

 private:
  void writeConfiguration(Services services);
  bool startBus();
  void stop();

  std::filesystem::path folder_;
  std::string failure_;
  std::vector<std::string> programs_;  // what the services run
  pid_t bus_ = -1;
  // The process's session bus connection, held while the bus runs: GLib
  // would end the process (SIGTERM) when the bus goes away under it.
  GDBusConnection* session_ = nullptr;
  std::optional<std::string> previousAddress_;
};

}  // namespace tavero::testing
