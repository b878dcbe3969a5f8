#include "support/PrivateEds.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook/libebook.h>
#pragma GCC diagnostic pop

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/FileRead.h"
#include "platform/linux/GLibWorkerThread.h"

extern char** environ;

namespace tavero::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kInstalledServices = "/usr/share/dbus-1/services";
constexpr const char* kRegistryService = "org.gnome.evolution.dataserver.Sources5";
constexpr const char* kFactoryService = "org.gnome.evolution.dataserver.AddressBook10";

// The installed service file of `name` without its SystemdService line:
// the private bus starts the program itself.
std::optional<std::string> installedService(const std::string& name) {
  auto text = base::readFileText(kInstalledServices / (name + ".service"));
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  std::string kept;
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("SystemdService=")) kept += line + "\n";
  return kept;
}

std::string serviceRunning(const std::string& name, const std::string& program) {
  return "[D-BUS Service]\nName=" + name + "\nExec=" + program + "\n";
}

std::string messageOf(GError* error) {
  std::string message = error && error->message ? error->message : "unknown error";
  g_clear_error(&error);
  return message;
}

std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "task", ec)) {
    std::istringstream pids(base::readFileText(task.path() / "children").value_or(""));
    for (pid_t child; pids >> child;) children.push_back(child);
  }
  return children;
}

void descendantsOf(pid_t pid, std::vector<pid_t>& found) {
  for (pid_t child : childrenOf(pid)) {
    found.push_back(child);
    descendantsOf(child, found);
  }
}

// The program of a service file's Exec line.
std::string programOf(const std::string& serviceText) {
  size_t exec = serviceText.find("Exec=");
  if (exec == std::string::npos) return {};
  std::string line = serviceText.substr(exec + 5, serviceText.find('\n', exec) - exec - 5);
  return line.substr(0, line.find(' '));
}

std::string executableOf(pid_t pid) {
  std::error_code ec;
  return fs::read_symlink(fs::path("/proc") / std::to_string(pid) / "exe", ec).string();
}

// Reaps `pid` (a child of this process) within `limit`; true when it ended.
bool reap(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pid_t got = ::waitpid(pid, nullptr, WNOHANG);
    if (got == pid || (got < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

}  // namespace

bool PrivateEds::installed() {
  return ::access("/usr/bin/dbus-daemon", X_OK) == 0 && installedService(kRegistryService) &&
         installedService(kFactoryService);
}

PrivateEds::PrivateEds(Services services) {
  // What the bus starts becomes this process's own once the bus is gone.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  ::setenv("GSETTINGS_BACKEND", "memory", 1);  // EDS's client reads settings: never the user's
  char folderTemplate[] = "/tmp/tavero-eds-XXXXXX";
  if (!::mkdtemp(folderTemplate)) {
    failure_ = "no temporary folder";
    return;
  }
  folder_ = folderTemplate;
  for (const char* sub : {"home", "data", "config", "cache", "runtime", "services"}) fs::create_directories(folder_ / sub);
  fs::permissions(folder_ / "runtime", fs::perms::owner_all);
  writeConfiguration(services);
  if (failure_.empty() && startBus()) {
    if (const char* previous = ::getenv("DBUS_SESSION_BUS_ADDRESS")) previousAddress_ = previous;
  }
}

PrivateEds::~PrivateEds() {
  stop();
  if (previousAddress_)
    ::setenv("DBUS_SESSION_BUS_ADDRESS", previousAddress_->c_str(), 1);
  else
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  std::error_code ec;
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

void PrivateEds::writeConfiguration(Services services) {
  const fs::path serviceFolder = folder_ / "services";
  auto write = [&](const std::string& name, const std::optional<std::string>& text) {
    if (!text) {
      failure_ = "no installed " + name + " service";
      return;
    }
    std::ofstream(serviceFolder / (name + ".service")) << *text;
    std::string program = programOf(*text);
    std::error_code ec;
    fs::path resolved = fs::canonical(program, ec);
    programs_.push_back(ec ? program : resolved.string());
  };
  switch (services) {
    case Services::eds:
      write(kRegistryService, installedService(kRegistryService));
      write(kFactoryService, installedService(kFactoryService));
      break;
    case Services::none:
      break;
    case Services::hangingRegistry:  // started, but never takes its name
      write(kRegistryService, serviceRunning(kRegistryService, "/bin/sleep 20"));
      break;
    case Services::failingFactory:
      write(kRegistryService, installedService(kRegistryService));
      write(kFactoryService, serviceRunning(kFactoryService, "/bin/false"));
      break;
  }
  std::ofstream(folder_ / "bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n  <type>session</type>\n"
         "  <listen>unix:dir=" << folder_.string() << "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <servicedir>" << serviceFolder.string() << "</servicedir>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
}

bool PrivateEds::startBus() {
  int addressPipe[2];
  if (::pipe2(addressPipe, O_CLOEXEC) != 0) {
    failure_ = "no pipe";
    return false;
  }
  // The services inherit the bus's environment: their home and XDG folders
  // are the private ones, and settings stay in memory (no dconf service).
  std::vector<std::string> environment;
  for (char** variable = environ; *variable; ++variable) {
    std::string_view text(*variable);
    if (!text.starts_with("DBUS_SESSION_BUS_ADDRESS=")) environment.emplace_back(text);
  }
  for (auto [name, sub] : {std::pair{"HOME", "home"}, {"XDG_DATA_HOME", "data"}, {"XDG_CONFIG_HOME", "config"},
                           {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "runtime"}})
    environment.push_back(std::string(name) + "=" + (folder_ / sub).string());
  environment.push_back("GSETTINGS_BACKEND=memory");
  std::vector<char*> envp;
  for (auto& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::string config = "--config-file=" + (folder_ / "bus.conf").string();
  std::vector<std::string> argv = {"/usr/bin/dbus-daemon", config, "--nofork", "--print-address=3"};
  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);

  std::string log = (folder_ / "services.log").string();
  const pid_t parent = ::getpid();
  bus_ = ::fork();
  if (bus_ == 0) {
    // Only async-signal-safe calls from here to execve. The bus ends with
    // this process, however it ends (a test killed for its time too), and
    // the services end with their bus.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    if (addressPipe[1] == 3)
      ::fcntl(3, F_SETFD, 0);
    else
      ::dup2(addressPipe[1], 3);
    int input = ::open("/dev/null", O_RDONLY);
    int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (input < 0 || output < 0) ::_exit(127);
    ::dup2(input, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(output, STDERR_FILENO);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(addressPipe[1]);
  if (bus_ < 0) {
    ::close(addressPipe[0]);
    failure_ = "dbus-daemon cannot be started";
    return false;
  }
  std::string address;
  pollfd readable{addressPipe[0], POLLIN, 0};
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (address.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    if (::poll(&readable, 1, 100) <= 0) continue;
    char buffer[512];
    ssize_t got = ::read(addressPipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    address.append(buffer, static_cast<size_t>(got));
  }
  ::close(addressPipe[0]);
  if (address.find('\n') == std::string::npos) {
    failure_ = "dbus-daemon gave no address: " + serviceLog();
    return false;
  }
  address.resize(address.find('\n'));
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  GError* error = nullptr;
  session_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!session_) {
    failure_ = "the private bus does not answer: " + messageOf(error);
    return false;
  }
  if (g_dbus_connection_is_closed(session_)) {
    // GLib keeps one session bus connection per process, and EDS's client
    // libraries keep it alive: a bus stopped earlier in this process stays.
    failure_ = "this process's session bus connection is the closed one of an earlier private bus: run each "
               "test in a process of its own (ctest does)";
    return false;
  }
  g_dbus_connection_set_exit_on_close(session_, FALSE);
  return true;
}

// The bus starts a service through a helper process it ends once the
// service runs: the service then becomes this process's child (this
// process is their subreaper). So: the bus's descendants, and this
// process's children that run a service's program, with theirs.
std::vector<pid_t> PrivateEds::serviceProcesses() const {
  std::vector<pid_t> found;
  if (bus_ <= 0) return found;
  descendantsOf(bus_, found);
  for (pid_t child : childrenOf(::getpid())) {
    std::string program = executableOf(child);
    if (std::find(programs_.begin(), programs_.end(), program) == programs_.end()) continue;
    found.push_back(child);
    descendantsOf(child, found);
  }
  return found;
}

void PrivateEds::stop() {
  if (bus_ <= 0) return;
  std::vector<pid_t> services = serviceProcesses();
  ::kill(bus_, SIGTERM);
  for (pid_t pid : services) ::kill(pid, SIGTERM);  // they also end when their bus goes
  if (!reap(bus_, 5s)) {
    ::kill(bus_, SIGKILL);
    reap(bus_, 5s);
  }
  for (pid_t pid : services) {
    if (reap(pid, 5s)) continue;
    ::kill(pid, SIGKILL);
    reap(pid, 5s);
  }
  bus_ = -1;
  if (session_) g_object_unref(session_);
  session_ = nullptr;
}

std::string PrivateEds::serviceLog() const { return base::readFileText(folder_ / "services.log").value_or(""); }

std::variant<std::vector<std::string>, std::string> PrivateEds::addContacts(const std::vector<std::string>& vcards,
                                                                            std::chrono::seconds limit) {
  using Added = std::variant<std::vector<std::string>, std::string>;
  platform::GLibWorkerThread worker("eds-test");
  auto added = worker.run<Added>([vcards](GCancellable* cancellable) -> Added {
    GError* error = nullptr;
    ESourceRegistry* registry = e_source_registry_new_sync(cancellable, &error);
    if (!registry) return "registry: " + messageOf(error);
    ESource* source = e_source_registry_ref_builtin_address_book(registry);
    EClient* client = e_book_client_connect_sync(source, static_cast<guint32>(-1), cancellable, &error);
    g_object_unref(source);
    g_object_unref(registry);
    if (!client) return "connect: " + messageOf(error);
    GSList* contacts = nullptr;
    for (const std::string& vcard : vcards) contacts = g_slist_append(contacts, e_contact_new_from_vcard(vcard.c_str()));
    GSList* uids = nullptr;
    bool ok = e_book_client_add_contacts_sync(E_BOOK_CLIENT(client), contacts, E_BOOK_OPERATION_FLAG_NONE, &uids,
                                              cancellable, &error);
    g_slist_free_full(contacts, g_object_unref);
    g_object_unref(client);
    if (!ok) return "add: " + messageOf(error);
    std::vector<std::string> given;
    for (GSList* item = uids; item; item = item->next) given.emplace_back(static_cast<char*>(item->data));
    g_slist_free_full(uids, g_free);
    return given;
  }, limit);
  if (!added) return "EDS did not answer within " + std::to_string(limit.count()) + " s: " + serviceLog();
  return std::move(*added);
}

}  // namespace tavero::testing
