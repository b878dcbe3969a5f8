#include "support/BusPeer.h"

#include <gio/gio.h>

#include <future>

namespace tavero::testing {
namespace {

struct Call {
  BusPeer* peer;
  std::function<void(std::string)> answered;
};

}  // namespace

BusPeer::BusPeer(const std::string& address)
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  std::promise<void> ready;
  thread_ = std::thread([this, address, &ready] {
    g_main_context_push_thread_default(context_);
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (connection_) uniqueName_ = g_dbus_connection_get_unique_name(connection_);
    ready.set_value();
    g_main_loop_run(loop_);
    if (connection_) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    // What the connection still had queued for this thread.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
  });
  ready.get_future().wait();
}

BusPeer::~BusPeer() {
  g_main_loop_quit(loop_);
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

void BusPeer::run(const std::function<void(GDBusConnection*)>& task) {
  std::promise<void> done;
  auto job = [&] {
    task(connection_);
    done.set_value();
  };
  using Job = decltype(job);
  g_main_context_invoke(
      context_,
      [](gpointer data) -> gboolean {
        (*static_cast<Job*>(data))();
        return G_SOURCE_REMOVE;
      },
      &job);
  done.get_future().wait();
}

void BusPeer::call(const std::string& destination, const std::string& path, const std::string& interface,
                   const std::string& method, GVariant* parameters) {
  if (parameters) g_variant_ref_sink(parameters);
  run([&](GDBusConnection* connection) {
    g_dbus_connection_call(
        connection, destination.c_str(), path.c_str(), interface.c_str(), method.c_str(), parameters, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* peer = static_cast<BusPeer*>(data);
          GError* error = nullptr;
          GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
          if (reply) {
            gchar* text = g_variant_print(reply, FALSE);
            peer->answered(text);
            g_free(text);
            g_variant_unref(reply);
          } else {
            gchar* name = g_dbus_error_get_remote_error(error);
            peer->answered(std::string("error ") + (name ? name : error->message));
            g_free(name);
            g_error_free(error);
          }
        },
        this);
  });
  if (parameters) g_variant_unref(parameters);
}

void BusPeer::answered(std::string answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(answer));
  changed_.notify_all();
}

std::vector<std::string> BusPeer::answers() const {
  std::lock_guard lock(mutex_);
  return answers_;
}

bool BusPeer::waitForAnswers(size_t count, int seconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return answers_.size() >= count; });
}

}  // namespace tavero::testing
