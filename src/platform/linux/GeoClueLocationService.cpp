#include "platform/linux/GeoClueLocationService.h"

#include <gio/gio.h>
#include <glib.h>
#include <gclue-simple.h>

#include <cfloat>
#include <mutex>

#include "log/Log.h"

namespace tavero::platform {

struct GeoClueLocationService::State {
  std::string desktopId;

  std::mutex mutex;  // guards enabled and accuracy
  bool enabled = true;
  LocationAccuracy accuracy = LocationAccuracy::NearestTenMeters;

  std::mutex delegateMutex;  // guards delegate and failureDelegate; held while they run
  Delegate delegate;
  FailureDelegate failureDelegate;

  // Main thread only.
  bool wanted = false;  // updates are started
  GCancellable* cancellable = nullptr;
  GClueSimple* simple = nullptr;
  gulong notifyHandler = 0;

  void report(GClueLocation* location) {
    if (!location) return;
    LocationFix fix;
    fix.latitude = gclue_location_get_latitude(location);
    fix.longitude = gclue_location_get_longitude(location);
    fix.horizontalAccuracy = gclue_location_get_accuracy(location);
    double altitude = gclue_location_get_altitude(location);
    bool altitudeKnown = altitude != -DBL_MAX;
    fix.altitude = altitudeKnown ? altitude : 0;
    fix.verticalAccuracy = altitudeKnown ? fix.horizontalAccuracy : -1;
    fix.speed = gclue_location_get_speed(location);
    fix.course = gclue_location_get_heading(location);
    if (GVariant* time = gclue_location_get_timestamp(location)) {
      guint64 seconds = 0, microseconds = 0;
      g_variant_get(time, "(tt)", &seconds, &microseconds);
      fix.timestamp = static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6;
    }
    std::lock_guard lock(delegateMutex);
    if (delegate) delegate(fix);
  }

  // Main thread.
  void start(const std::shared_ptr<State>& self) {
    if (!wanted || simple || cancellable) return;
    GClueAccuracyLevel level;
    {
      std::lock_guard lock(mutex);
      level = accuracy == LocationAccuracy::Best ? GCLUE_ACCURACY_LEVEL_EXACT : GCLUE_ACCURACY_LEVEL_STREET;
    }
    cancellable = g_cancellable_new();
    gclue_simple_new(desktopId.c_str(), level, cancellable, ready, new std::weak_ptr<State>(self));
  }

  // Main thread.
  void stop() {
    if (cancellable) {
      g_cancellable_cancel(cancellable);
      g_clear_object(&cancellable);
    }
    if (simple) {
      g_signal_handler_disconnect(simple, notifyHandler);
      g_clear_object(&simple);
    }
  }

  static void ready(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
    GError* error = nullptr;
    GClueSimple* simple = gclue_simple_new_finish(result, &error);
    auto self = weak->lock();
    if (!self || !simple) {
      if (self && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        const std::string reason = error ? error->message : "GeoClue gave no client";
        log::warning("location: GeoClue cannot be used: " + reason + "; location services are off");
        {
          std::lock_guard lock(self->mutex);
          self->enabled = false;
        }
        std::lock_guard lock(self->delegateMutex);
        if (self->failureDelegate) self->failureDelegate(reason);
      }
      if (error) g_error_free(error);
      if (simple) g_object_unref(simple);
      if (self) g_clear_object(&self->cancellable);
      return;
    }
    g_clear_object(&self->cancellable);
    self->simple = simple;
    self->notifyHandler = g_signal_connect(simple, "notify::location", G_CALLBACK(locationChanged), self.get());
    self->report(gclue_simple_get_location(simple));
  }

  static void locationChanged(GClueSimple* simple, GParamSpec*, gpointer data) {
    static_cast<State*>(data)->report(gclue_simple_get_location(simple));
  }
};

GeoClueLocationService::GeoClueLocationService(base::MainThread& mainThread, std::string desktopId)
    : mainThread_(mainThread), state_(std::make_shared<State>()) {
  state_->desktopId = std::move(desktopId);
}

GeoClueLocationService::~GeoClueLocationService() {
  // The client lives on the main thread; it is taken down there.
  mainThread_.performAndWait([state = state_] {
    state->wanted = false;
    state->stop();
  });
}

bool GeoClueLocationService::locationServicesEnabled() const {
  std::lock_guard lock(state_->mutex);
  return state_->enabled;
}

void GeoClueLocationService::setDesiredAccuracy(LocationAccuracy accuracy) {
  std::lock_guard lock(state_->mutex);
  state_->accuracy = accuracy;
}

void GeoClueLocationService::setDelegate(Delegate delegate) {
  std::lock_guard lock(state_->delegateMutex);
  state_->delegate = std::move(delegate);
}

void GeoClueLocationService::setFailureDelegate(FailureDelegate delegate) {
  std::lock_guard lock(state_->delegateMutex);
  state_->failureDelegate = std::move(delegate);
}

void GeoClueLocationService::startUpdatingLocation() {
  mainThread_.post([weak = std::weak_ptr<State>(state_)] {
    if (auto state = weak.lock()) {
      state->wanted = true;
      state->start(state);
    }
  });
}

void GeoClueLocationService::stopUpdatingLocation() {
  mainThread_.post([weak = std::weak_ptr<State>(state_)] {
    if (auto state = weak.lock()) {
      state->wanted = false;
      state->stop();
    }
  });
}

}  // namespace tavero::platform
