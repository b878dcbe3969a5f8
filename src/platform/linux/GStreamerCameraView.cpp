#include "platform/linux/GStreamerCameraView.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "log/Log.h"
#include "platform/linux/CameraFrames.h"
#include "platform/linux/CameraSourceChoice.h"

namespace tavero::platform {

// What the view, its starting and stopping threads, GStreamer's streaming
// thread and the main-loop callbacks share. Fields marked "main" are touched
// on the main thread only.
struct GStreamerCameraView::Shared {
  Camera::Watchers watchers;       // main
  bool closed = false;             // main: the dialog is gone
  bool failed = false;             // main: the failure has been told
  bool sawFrame = false;           // main
  GstElement* pipeline = nullptr;  // main: owned once started
  guint busWatch = 0;              // main
  guint firstFrameTimer = 0;       // main
  std::string source;              // main: for the log, "v4l2src /dev/video0"

  std::mutex mutex;
  std::shared_ptr<const CameraFrame> newest;  // under mutex; shared with the main thread, never changed
  bool frameQueued = false;                   // under mutex: a delivery to the main thread is pending
};

namespace {

using Shared = GStreamerCameraView::Shared;

constexpr const char* kPrefix = "the picture could not be taken: ";

// Threads that start or stop pipelines, counted so that the process can let
// them finish before it ends.
struct BackgroundWork {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

BackgroundWork& backgroundWork() {
  static BackgroundWork* work = new BackgroundWork;  // never destroyed: threads may outlive statics
  return *work;
}

void runInBackground(std::function<void()> job) {
  BackgroundWork& work = backgroundWork();
  {
    std::lock_guard lock(work.mutex);
    ++work.running;
  }
  std::thread([job = std::move(job), &work] {
    job();
    std::lock_guard lock(work.mutex);
    if (--work.running == 0) work.idle.notify_all();
  }).detach();
}

// Runs `job` on the main thread (the default main context) soon.
void onMainThread(std::function<void()> job) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      +[](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(job)),
      +[](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

gpointer heldShared(const std::shared_ptr<Shared>& shared) { return new std::shared_ptr<Shared>(shared); }
void releaseShared(gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); }
std::shared_ptr<Shared> sharedFrom(gpointer data) { return *static_cast<std::shared_ptr<Shared>*>(data); }

void stopInBackground(GstElement* pipeline) {
  runInBackground([pipeline] {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
  });
}

// Stops everything the view runs; the watchers hear nothing more.
void shutDown(Shared& shared) {
  if (shared.firstFrameTimer) g_source_remove(std::exchange(shared.firstFrameTimer, 0));
  if (shared.busWatch) g_source_remove(std::exchange(shared.busWatch, 0));
  if (shared.pipeline) stopInBackground(std::exchange(shared.pipeline, nullptr));
}

// Tells the dialog, once, that the camera cannot be used.
void fail(const std::shared_ptr<Shared>& shared, const std::string& message) {
  if (shared->closed || shared->failed) return;
  shared->failed = true;
  shutDown(*shared);
  auto failed = shared->watchers.failed;
  if (failed) failed(kPrefix + message);
}

// The page's words for a GStreamer error; `started`: the camera had shown a
// frame before.
std::string failureText(const GError* error, bool started) {
  if (error && error->domain == GST_RESOURCE_ERROR) {
    if (error->code == GST_RESOURCE_ERROR_BUSY) return "the camera is busy (another program is using it)";
    if (error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) return "access to the camera was refused";
  }
  return started ? "the camera stopped working" : "the camera could not be started";
}

void logGStreamerError(const std::string& source, const GError* error, const gchar* debug) {
  log::warning("camera: " + source + ": GStreamer error: " + (error ? error->message : "unknown") +
               (debug ? std::string(" (") + debug + ")" : std::string()));
}

// ---- on the streaming thread ----

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data) {
  auto& shared = *static_cast<std::shared_ptr<Shared>*>(data);
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (!sample) return GST_FLOW_EOS;
  GstVideoInfo info;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  std::optional<CameraFrame> frame;
  if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
      gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    frame = packedFrame(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                        GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), std::span<const uint8_t>(map.data, map.size));
    gst_buffer_unmap(buffer, &map);
  }
  gst_sample_unref(sample);
  if (!frame) return GST_FLOW_OK;  // a frame that does not fit its caps is skipped
  bool deliver = false;
  {
    std::lock_guard lock(shared->mutex);
    shared->newest = std::make_shared<const CameraFrame>(std::move(*frame));
    deliver = !std::exchange(shared->frameQueued, true);
  }
  // One delivery at a time: a busy main thread skips frames instead of
  // queueing them.
  if (deliver) {
    onMainThread([shared = shared] {
      std::shared_ptr<const CameraFrame> shown;
      {
        std::lock_guard lock(shared->mutex);
        shared->frameQueued = false;
        shown = shared->newest;
      }
      if (shared->closed || shared->failed || !shown) return;
      if (!shared->sawFrame) {
        shared->sawFrame = true;
        if (shared->firstFrameTimer) g_source_remove(std::exchange(shared->firstFrameTimer, 0));
        log::info("camera: " + shared->source + " shows " + std::to_string(shown->size.width) + "x" +
                  std::to_string(shown->size.height));
      }
      auto frameWatcher = shared->watchers.frame;
      if (frameWatcher) frameWatcher(*shown);
    });
  }
  return GST_FLOW_OK;
}

// ---- on the main thread ----

gboolean onBusMessage(GstBus*, GstMessage* message, gpointer data) {
  std::shared_ptr<Shared> shared = sharedFrom(data);
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    logGStreamerError(shared->source, error, debug);
    std::string text = failureText(error, shared->sawFrame);
    g_clear_error(&error);
    g_free(debug);
    fail(shared, text);
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
    log::warning("camera: " + shared->source + " ended its stream");
    fail(shared, "the camera stopped working");
  }
  return G_SOURCE_CONTINUE;
}

void watchStartedPipeline(const std::shared_ptr<Shared>& shared, GstElement* pipeline) {
  if (shared->closed || shared->failed) {
    stopInBackground(pipeline);
    return;
  }
  shared->pipeline = pipeline;
  GstBus* bus = gst_element_get_bus(pipeline);
  shared->busWatch = gst_bus_add_watch_full(bus, G_PRIORITY_DEFAULT, onBusMessage, heldShared(shared), releaseShared);
  gst_object_unref(bus);
}

// ---- on the starting thread ----

// The cameras the device monitor finds, with the source element each makes
// (owned; the caller unrefs them).
std::vector<GstElement*> findCameras(std::vector<FoundCamera>& found) {
  std::vector<GstElement*> elements;
  GstDeviceMonitor* monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
  GList* devices = gst_device_monitor_get_devices(monitor);  // probes: the monitor is not started
  for (GList* item = devices; item; item = item->next) {
    GstDevice* device = GST_DEVICE(item->data);
    GstElement* element = gst_device_create_element(device, nullptr);
    if (!element) continue;
    gst_object_ref_sink(element);
    FoundCamera camera;
    gchar* name = gst_device_get_display_name(device);
    camera.displayName = name ? name : "";
    g_free(name);
    GstElementFactory* factory = gst_element_get_factory(element);
    camera.element = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "device")) {
      gchar* path = nullptr;
      g_object_get(element, "device", &path, nullptr);
      camera.devicePath = path ? path : "";
      g_free(path);
    }
    found.push_back(std::move(camera));
    elements.push_back(element);
  }
  g_list_free_full(devices, gst_object_unref);
  gst_object_unref(monitor);
  return elements;
}

// The source element for `source` (a new reference), or null with a log line.
GstElement* makeSource(const CameraSource& source, const std::vector<GstElement*>& found) {
  if (source.found) return GST_ELEMENT(gst_object_ref(found[*source.found]));
  GstElement* element = gst_element_factory_make(source.element.c_str(), nullptr);
  if (!element) {
    log::warning("camera: GStreamer has no element " + source.element + " (is its plugin installed?)");
    return nullptr;
  }
  gst_object_ref_sink(element);
  if (source.devicePath) g_object_set(element, "device", source.devicePath->c_str(), nullptr);
  // The test source runs at its frame rate, as a camera does, not as fast as it can.
  if (source.element == "videotestsrc") g_object_set(element, "is-live", TRUE, nullptr);
  return element;
}

// SOURCE ! videoconvert ! videoscale ! RGB caps ! appsink; null when an
// element is missing.
GstElement* buildPipeline(GstElement* sourceElement, const std::shared_ptr<Shared>& shared) {
  GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
  GstElement* scale = gst_element_factory_make("videoscale", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (!convert || !scale || !filter || !sink) {
    for (GstElement* element : {convert, scale, filter, sink})
      if (element) gst_object_unref(gst_object_ref_sink(element));
    log::warning("camera: GStreamer lacks videoconvert, videoscale or appsink (gstreamer1.0-plugins-base)");
    return nullptr;
  }
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=RGB,width=[1,1920],height=[1,1080]");
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
  // Only the newest frame matters: older ones are dropped, and frames are
  // taken as they come rather than held to a clock.
  g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = onNewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, heldShared(shared), releaseShared);

  GstElement* pipeline = gst_pipeline_new("tavero-camera");
  gst_bin_add_many(GST_BIN(pipeline), sourceElement, convert, scale, filter, sink, nullptr);
  if (!gst_element_link_many(sourceElement, convert, scale, filter, sink, nullptr)) {
    log::warning("camera: the camera's source does not link to the RGB conversion");
    gst_object_unref(pipeline);
    return nullptr;
  }
  return pipeline;
}

// The error a pipeline that failed to start left on its bus (logged; the
// caller frees it), or null.
GError* takeStartError(GstElement* pipeline, const std::string& source) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (!message) {
    log::warning("camera: " + source + " failed to start, without a GStreamer error");
    return nullptr;
  }
  GError* error = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(message, &error, &debug);
  logGStreamerError(source, error, debug);
  g_free(debug);
  gst_message_unref(message);
  return error;
}

void startPipeline(const std::shared_ptr<Shared>& shared, const std::optional<CameraDevice>& configured) {
  std::vector<FoundCamera> found;
  std::vector<GstElement*> elements;
  if (!configured) elements = findCameras(found);
  auto choice = chooseCameraSource(configured, found);
  GstElement* source = choice ? makeSource(*choice, elements) : nullptr;
  for (GstElement* element : elements) gst_object_unref(element);
  if (!choice) {
    log::warning("camera: GStreamer's device monitor found no camera (Video/Source)");
    onMainThread([shared] { fail(shared, "no camera was found"); });
    return;
  }
  std::string described = choice->describe(found);
  log::info("camera: starting " + described);
  onMainThread([shared, described] { shared->source = described; });
  GstElement* pipeline = source ? buildPipeline(source, shared) : nullptr;
  if (source) gst_object_unref(source);  // the pipeline holds it now, if made
  if (!pipeline) {
    onMainThread([shared] { fail(shared, "the camera could not be started"); });
    return;
  }
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    GError* error = takeStartError(pipeline, described);
    std::string text = failureText(error, false);
    g_clear_error(&error);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    onMainThread([shared, text] { fail(shared, text); });
    return;
  }
  onMainThread([shared, pipeline] { watchStartedPipeline(shared, pipeline); });
}

}  // namespace

GStreamerCameraView::GStreamerCameraView(std::optional<CameraDevice> configured, Camera::Watchers watchers,
                                         bool gstreamerReady)
    : shared_(std::make_shared<Shared>()) {
  shared_->watchers = std::move(watchers);
  shared_->source = "the camera";
  if (!gstreamerReady) {
    // Told once the dialog is up, as any other failure.
    onMainThread([shared = shared_] { fail(shared, "the camera could not be started"); });
    return;
  }
  shared_->firstFrameTimer = g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>(std::chrono::milliseconds(kFirstFrameLimit).count()),
      +[](gpointer data) -> gboolean {
        std::shared_ptr<Shared> shared = sharedFrom(data);
        shared->firstFrameTimer = 0;
        log::warning("camera: " + shared->source + " showed no frame within " +
                     std::to_string(kFirstFrameLimit.count()) + " s");
        fail(shared, "the camera showed no picture within " + std::to_string(kFirstFrameLimit.count()) + " s");
        return G_SOURCE_REMOVE;
      },
      heldShared(shared_), releaseShared);
  runInBackground([shared = shared_, configured = std::move(configured)] { startPipeline(shared, configured); });
}

GStreamerCameraView::~GStreamerCameraView() {
  shared_->closed = true;
  shared_->watchers = {};
  shutDown(*shared_);
}

std::variant<ImageData, std::string> GStreamerCameraView::takePicture() {
  if (shared_->failed) return std::string(kPrefix) + "the camera has stopped";
  std::shared_ptr<const CameraFrame> frame;
  {
    std::lock_guard lock(shared_->mutex);
    frame = shared_->newest;
  }
  if (!frame) return std::string("the camera has shown no picture yet");
  std::vector<uint8_t> png = framePNG(*frame);
  if (png.empty()) return std::string(kPrefix) + "the frame could not be encoded";
  return ImageData(std::move(png));
}

bool GStreamerCameraView::waitForBackgroundWork(std::chrono::milliseconds limit) {
  BackgroundWork& work = backgroundWork();
  std::unique_lock lock(work.mutex);
  return work.idle.wait_for(lock, limit, [&] { return work.running == 0; });
}

}  // namespace tavero::platform
