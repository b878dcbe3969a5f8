#include "platform/linux/GLibMainLoopTimers.h"

#include <glib.h>

#include <algorithm>

namespace tavero::platform {
namespace {

struct TickData {
  std::function<void()> tick;
  bool repeats;
};

gboolean runTick(gpointer data) {
  auto* tick = static_cast<TickData*>(data);
  tick->tick();
  return tick->repeats ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void deleteTick(gpointer data) { delete static_cast<TickData*>(data); }

// Owns one attached timeout source. GLib keeps the tick's data alive while
// it is being dispatched, so destroying the source from another thread
// during a tick is safe.
class GLibTimer : public base::Timer {
 public:
  explicit GLibTimer(GSource* source) : source_(source) {}
  ~GLibTimer() override {
    g_source_destroy(source_);
    g_source_unref(source_);
  }

 private:
  GSource* source_;
};

}  // namespace

std::unique_ptr<base::Timer> GLibMainLoopTimers::schedule(std::chrono::milliseconds interval, bool repeats,
                                                    std::function<void()> tick) {
  auto milliseconds = static_cast<guint>(std::clamp<int64_t>(interval.count(), 1, G_MAXUINT));
  GSource* source = g_timeout_source_new(milliseconds);
  g_source_set_callback(source, runTick, new TickData{std::move(tick), repeats}, deleteTick);
  g_source_attach(source, g_main_context_default());
  return std::make_unique<GLibTimer>(source);
}

}  // namespace tavero::platform
