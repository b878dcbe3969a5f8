#include "platform/linux/GLibMainThread.h"

#include <glib-unix.h>
#include <glib.h>

#include <unistd.h>

#include "platform/linux/TerminationSignals.h"

namespace tavero::platform {
namespace {

gboolean runTask(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void deleteTask(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

GLibMainThread::GLibMainThread() : loop_(g_main_loop_new(nullptr, FALSE)) { base::claimMainThread(); }

GLibMainThread::~GLibMainThread() {
  if (signalSource_ != 0) g_source_remove(signalSource_);
  g_main_loop_unref(loop_);
}

void GLibMainThread::post(std::function<void()> task) {
  // An idle source at default priority: sources of equal priority are
  // dispatched in the order they were attached, so one thread's tasks keep
  // their order.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, runTask, new std::function<void()>(std::move(task)), deleteTask);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

void GLibMainThread::runFor(std::chrono::milliseconds duration) {
  bool elapsed = false;
  g_timeout_add(static_cast<guint>(duration.count()),
                [](gpointer flag) -> gboolean {
                  *static_cast<bool*>(flag) = true;
                  return G_SOURCE_REMOVE;
                },
                &elapsed);
  while (!elapsed) g_main_context_iteration(nullptr, TRUE);
}

bool GLibMainThread::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  bool elapsed = false;
  guint timer = g_timeout_add(static_cast<guint>(limit.count()),
                              [](gpointer flag) -> gboolean {
                                *static_cast<bool*>(flag) = true;
                                return G_SOURCE_REMOVE;
                              },
                              &elapsed);
  while (!done() && !elapsed) g_main_context_iteration(nullptr, TRUE);
  if (!elapsed) g_source_remove(timer);
  return done();
}

void GLibMainThread::run() { g_main_loop_run(loop_); }

void GLibMainThread::quit() { g_main_loop_quit(loop_); }

void GLibMainThread::onTerminationSignal(std::function<void(int)> handler) {
  terminationHandler_ = std::move(handler);
  if (signalSource_ != 0) return;
  TerminationSignals::install();
  int fd = TerminationSignals::notificationFd();
  if (fd < 0) return;
  // A signal that came before this call is waiting in the pipe, so it is
  // handled at the loop's first turn.
  signalSource_ = g_unix_fd_add(
      fd, G_IO_IN,
      [](gint fd, GIOCondition, gpointer data) -> gboolean {
        char drained[64];
        while (::read(fd, drained, sizeof drained) > 0) {
        }
        auto* self = static_cast<GLibMainThread*>(data);
        if (self->terminationHandler_) self->terminationHandler_(TerminationSignals::received());
        return G_SOURCE_CONTINUE;
      },
      this);
}

}  // namespace tavero::platform
