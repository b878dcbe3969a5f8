#include "platform/linux/GLibWorkerThread.h"

#include <pthread.h>

namespace tavero::platform {

struct GLibWorkerThread::Job {
  std::function<void(GCancellable*)> work;
  GCancellable* cancellable = g_cancellable_new();
  bool ended = false;
  std::condition_variable endedChanged;

  ~Job() { g_object_unref(cancellable); }
};

GLibWorkerThread::GLibWorkerThread(std::string name)
    : name_(std::move(name)), context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  thread_ = std::thread([this] { loop(); });
}

GLibWorkerThread::~GLibWorkerThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const auto& job : queued_) g_cancellable_cancel(job->cancellable);
  }
  // Queued after every job, so each has ended (cancelled) before the loop stops.
  dispatch(
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      loop_);
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

// Unlike g_main_context_invoke, never runs `callback` on the calling
// thread (which may acquire the context before the worker does).
void GLibWorkerThread::dispatch(GSourceFunc callback, gpointer data) {
  GSource* source = g_idle_source_new();
  g_source_set_callback(source, callback, data, nullptr);
  g_source_attach(source, context_);
  g_source_unref(source);
}

void GLibWorkerThread::loop() {
  pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
  g_main_context_push_thread_default(context_);
  g_main_loop_run(loop_);
  // Sources the libraries left behind (their idle callbacks) end here.
  while (g_main_context_iteration(context_, FALSE)) {
  }
  g_main_context_pop_thread_default(context_);
}

bool GLibWorkerThread::runFor(std::function<void(GCancellable*)> work, std::chrono::milliseconds limit) {
  auto job = std::make_shared<Job>();
  if (isWorkerThread()) {  // work that needs more work: waiting for it would never end
    work(job->cancellable);
    return true;
  }
  job->work = std::move(work);
  std::unique_lock lock(mutex_);
  if (stopping_) return false;
  queued_.push_back(job);
  dispatch(&GLibWorkerThread::runNextJob, this);
  if (job->endedChanged.wait_for(lock, limit, [&] { return job->ended; })) return true;
  g_cancellable_cancel(job->cancellable);
  return false;
}

gboolean GLibWorkerThread::runNextJob(gpointer data) {
  auto* self = static_cast<GLibWorkerThread*>(data);
  std::shared_ptr<Job> job;
  {
    std::lock_guard lock(self->mutex_);
    if (self->queued_.empty()) return G_SOURCE_REMOVE;
    job = self->queued_.front();
  }
  job->work(job->cancellable);
  std::lock_guard lock(self->mutex_);
  self->queued_.pop_front();
  job->ended = true;
  job->endedChanged.notify_all();
  return G_SOURCE_REMOVE;
}

}  // namespace tavero::platform
