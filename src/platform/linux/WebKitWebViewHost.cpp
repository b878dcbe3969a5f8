#include "platform/linux/WebKitWebViewHost.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>

#include "base/MainThread.h"
#include "base/PrivateFiles.h"
#include "log/Log.h"
#include "platform/linux/ContentRules.h"
#include "platform/linux/WebKitPageView.h"

namespace tavero::platform {

std::optional<std::string> initializeGtk() {
  if (!gtk_init_check(nullptr, nullptr))
    return std::string("cannot open a display (set DISPLAY, or use --headless)");
  return std::nullopt;
}

namespace {

// Pages keep their cookies across launches, also those of the servers they
// call (to a bundle's file pages, every server is a third party).
void keepCookies(WebKitWebsiteDataManager* data, const std::filesystem::path& cookieFile) {
  WebKitCookieManager* cookies = webkit_website_data_manager_get_cookie_manager(data);
  webkit_cookie_manager_set_accept_policy(cookies, WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS);
  if (cookieFile.empty()) return;
  std::error_code ec = base::createPrivateFolders(cookieFile.parent_path());
  if (ec) log::error("cookies: cannot create " + cookieFile.parent_path().string() + ": " + ec.message());
  // WebKit's network process opens it as SQLite, which keeps the mode of an
  // existing (empty) file: private to the user whatever its umask.
  if (!ec && (ec = base::createPrivateFile(cookieFile)))
    log::error("cookies: cannot create " + cookieFile.string() + ": " + ec.message());
  webkit_cookie_manager_set_persistent_storage(cookies, cookieFile.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
}

// The part of the screen that `window` covers, frame included, as PNG.
Snapshot screenPictureOf(GtkWidget* window) {
  Snapshot picture;
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  if (!gdkWindow || !gtk_widget_get_mapped(window) || gdk_window_is_viewable(gdkWindow) == FALSE ||
      (gdk_window_get_state(gdkWindow) & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_WITHDRAWN)) != 0) {
    picture.error = "the window is not on screen";
    return picture;
  }
  GdkRectangle frame{};
  gdk_window_get_frame_extents(gdkWindow, &frame);
  GdkWindow* root = gdk_screen_get_root_window(gtk_widget_get_screen(window));
  // What is on screen, with the dialogs over the window, is in the root
  // window's picture; clipped to the screen.
  int left = std::max(frame.x, 0), top = std::max(frame.y, 0);
  int right = std::min(frame.x + frame.width, gdk_window_get_width(root));
  int bottom = std::min(frame.y + frame.height, gdk_window_get_height(root));
  if (right <= left || bottom <= top) {
    picture.error = "the window is outside the screen";
    return picture;
  }
  GdkPixbuf* pixels = gdk_pixbuf_get_from_window(root, left, top, right - left, bottom - top);
  if (!pixels) {
    picture.error = "the screen could not be read";
    return picture;
  }
  gchar* buffer = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (gdk_pixbuf_save_to_buffer(pixels, &buffer, &length, "png", &error, nullptr)) {
    picture.png.assign(buffer, length);
    picture.width = gdk_pixbuf_get_width(pixels);
    picture.height = gdk_pixbuf_get_height(pixels);
  } else {
    picture.error = std::string("cannot make a PNG: ") + (error ? error->message : "unknown reason");
  }
  if (error) g_error_free(error);
  g_free(buffer);
  g_object_unref(pixels);
  return picture;
}

}  // namespace

WebKitWebViewHost::WebKitWebViewHost(Options options) : options_(std::move(options)) {
  // Made private before WebKit makes them with its processes' umask.
  for (const auto& folder : {options_.dataDirectory, options_.cacheDirectory}) {
    if (folder.empty()) continue;
    if (std::error_code ec = base::createPrivateFolders(folder))
      log::error("web view: cannot create " + folder.string() + ": " + ec.message());
  }
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
      "base-data-directory", options_.dataDirectory.c_str(), "base-cache-directory",
      options_.cacheDirectory.c_str(), nullptr);
  keepCookies(data, options_.cookieFile);
  context_ = webkit_web_context_new_with_website_data_manager(data);
  g_object_unref(data);
  downloads_ = std::make_unique<DownloadGuard>(context_, options_.downloadsFolder);
  if (options_.automation) allowAutomation();

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  gtk_window_set_title(GTK_WINDOW(window_), options_.windowTitle.c_str());
  gtk_window_set_default_size(GTK_WINDOW(window_), options_.width, options_.height);
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     auto* host = static_cast<WebKitWebViewHost*>(self);
                     if (host->options_.onWindowClosed) host->options_.onWindowClosed();
                     return TRUE;  // the application decides when the window goes
                   }),
                   this);
  g_signal_connect(window_, "window-state-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventWindowState* event, gpointer self) -> gboolean {
                     auto* host = static_cast<WebKitWebViewHost*>(self);
                     bool hidden = (event->new_window_state &
                                    (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_WITHDRAWN)) != 0;
                     if (hidden != host->hidden_) {
                       host->hidden_ = hidden;
                       if (host->options_.onWindowHiddenChanged) host->options_.onWindowHiddenChanged(hidden);
                     }
                     return FALSE;
                   }),
                   this);
}

GtkWindow* WebKitWebViewHost::window() const { return GTK_WINDOW(window_); }

WebKitWebViewHost::~WebKitWebViewHost() {
  g_signal_handlers_disconnect_by_data(window_, this);
  g_signal_handlers_disconnect_by_data(context_, this);
  if (content_) {
    g_signal_handlers_disconnect_by_data(content_->webView(), this);
    gtk_container_remove(GTK_CONTAINER(window_), content_->widget());
  }
  gtk_widget_destroy(window_);
  g_object_unref(window_);
  downloads_.reset();
  g_object_unref(context_);
}

std::unique_ptr<WebView> WebKitWebViewHost::createWebView(const std::string& pageName) {
  base::requireMainThread("WebKitWebViewHost::createWebView");
  WebKitPageView::Setup setup;
  setup.context = context_;
  setup.pageName = pageName;
  setup.bundle = bundle_;
  setup.filterGate = filterGate_;
  setup.controlledByAutomation = options_.automation;
  setup.scriptsThroughExtension = webExtension_.has_value();
  setup.onMessage = [handler = messageHandler_, pageName](std::string message,
                                                         std::unique_ptr<PageMessageReply> reply) {
    if (*handler)
      (*handler)(pageName, std::move(message), std::move(reply));
    else
      reply->reject("the shell takes no messages");
  };
  return std::make_unique<WebKitPageView>(std::move(setup));
}

void WebKitWebViewHost::allowAutomation() {
  webkit_web_context_set_automation_allowed(context_, TRUE);
  g_signal_connect(context_, "automation-started", G_CALLBACK(automationStarted), this);
  log::warning("automation: allowed; whoever reaches the WebDriver server's port controls this app");
}

void WebKitWebViewHost::automationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer self) {
  auto* host = static_cast<WebKitWebViewHost*>(self);
  WebKitApplicationInfo* info = webkit_application_info_new();
  webkit_application_info_set_name(info, host->options_.automationName.c_str());
  unsigned major = 0, minor = 0, micro = 0;
  std::sscanf(host->options_.automationVersion.c_str(), "%u.%u.%u", &major, &minor, &micro);
  webkit_application_info_set_version(info, major, minor, micro);
  webkit_automation_session_set_application_info(session, info);
  webkit_application_info_unref(info);
  g_signal_connect(session, "create-web-view", G_CALLBACK(+[](WebKitAutomationSession*, gpointer self) {
                     return static_cast<WebKitWebViewHost*>(self)->viewForAutomation();
                   }),
                   self);
  log::warning("automation: a WebDriver session started: it controls the app");
}

WebKitWebView* WebKitWebViewHost::viewForAutomation() {
  // The app has one window: the session drives the page it shows, with the
  // page client, its token and the services of a normal run. A second
  // window (WebDriver's "new window") is refused.
  if (!content_) {
    log::error("automation: the session asked for a view before the app shows a page");
    return nullptr;
  }
  if (automationHasView_) {
    log::warning("automation: the session asked for a second window; the app has only one");
    return nullptr;
  }
  automationHasView_ = true;
  // The session closing its window (WebDriver's quit) ends the app, as the
  // user closing it does.
  g_signal_connect(content_->webView(), "close", G_CALLBACK(+[](WebKitWebView*, gpointer self) {
                     auto* host = static_cast<WebKitWebViewHost*>(self);
                     log::info("automation: the session closed the window");
                     if (host->options_.onWindowClosed) host->options_.onWindowClosed();
                   }),
                   this);
  return content_->webView();
}

void WebKitWebViewHost::setBundleDocuments(BundleDocuments documents) {
  bundle_ = std::make_shared<const BundleDocuments>(std::move(documents));
  downloads_->setRules({.allowed = bundle_->allowsDownloads, .readableFolders = bundle_->readableFolders});
  auto gate = std::make_shared<ContentFilterGate>();
  filterGate_ = gate;
  if (bundle_->readableFolders.empty() && bundle_->blockedURLPrefixes.empty()) return;
  gate->close();
  ContentRulesCompiler::compile(options_.cacheDirectory / "ContentRules",
                                contentRulesJSON(bundle_->readableFolders, bundle_->blockedURLPrefixes),
                                [gate](WebKitUserContentFilter* filter) { gate->open(filter); });
}

void WebKitWebViewHost::useWebExtension(WebExtension extension) {
  base::requireMainThread("WebKitWebViewHost::useWebExtension");
  const bool first = !webExtension_;
  webExtension_ = std::move(extension);
  webkit_web_context_set_web_extensions_directory(context_, webExtension_->folder.c_str());
  // Read-only is enough: connecting to a socket writes nothing to its file.
  if (webkit_web_context_get_sandbox_enabled(context_)) {
    webkit_web_context_add_path_to_sandbox(context_, webExtension_->socketPath.parent_path().c_str(), TRUE);
    log::debug("web view: the web process sandbox sees " + webExtension_->socketPath.parent_path().string());
  }
  if (first) g_signal_connect(context_, "initialize-web-extensions", G_CALLBACK(initializeWebExtensions), this);
}

// Each new web process gets the settings as they are when it starts.
void WebKitWebViewHost::initializeWebExtensions(WebKitWebContext* context, void* self) {
  auto* host = static_cast<WebKitWebViewHost*>(self);
  GVariantBuilder patterns;
  g_variant_builder_init(&patterns, G_VARIANT_TYPE("as"));
  if (host->bundle_)
    for (const auto& pattern : host->bundle_->urlPatterns) g_variant_builder_add(&patterns, "s", pattern.c_str());
  const std::string developmentOrigin = host->bundle_ ? host->bundle_->developmentOrigin : std::string();
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, g_variant_new("(ssass)", host->webExtension_->socketPath.c_str(),
                             host->webExtension_->pageToken.c_str(), &patterns, developmentOrigin.c_str()));
}

void WebKitWebViewHost::setPageMessageHandler(PageMessageHandler handler) { *messageHandler_ = std::move(handler); }

void WebKitWebViewHost::showWindow() {
  base::requireMainThread("WebKitWebViewHost::showWindow");
  gtk_widget_show(window_);
}

void WebKitWebViewHost::presentWindow() {
  base::requireMainThread("WebKitWebViewHost::presentWindow");
  gtk_window_deiconify(GTK_WINDOW(window_));
  gtk_window_present(GTK_WINDOW(window_));
}

bool WebKitWebViewHost::windowIsFocused() const {
  return gtk_widget_get_visible(window_) && gtk_window_is_active(GTK_WINDOW(window_));
}

void WebKitWebViewHost::setContentView(WebView* view) {
  base::requireMainThread("WebKitWebViewHost::setContentView");
  if (content_) {
    g_signal_handlers_disconnect_by_data(content_->webView(), this);
    gtk_container_remove(GTK_CONTAINER(window_), content_->widget());
  }
  content_ = dynamic_cast<WebKitPageView*>(view);
  if (view && !content_) log::error("window: a web view of another kind cannot be shown");
  if (content_) {
    gtk_container_add(GTK_CONTAINER(window_), content_->widget());
    gtk_widget_show(content_->widget());
  }
}

void WebKitWebViewHost::snapshotWindow(std::function<void(Snapshot)> done) {
  base::requireMainThread("WebKitWebViewHost::snapshotWindow");
  struct Request {
    GtkWidget* window;
    std::function<void(Snapshot)> done;
  };
  // An idle callback runs after the redraws GTK has pending (they have a
  // higher priority), so a dialog just shown is on screen.
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        std::unique_ptr<Request> request(static_cast<Request*>(data));
        gdk_display_sync(gtk_widget_get_display(request->window));
        request->done(screenPictureOf(request->window));
        g_object_unref(request->window);
        return G_SOURCE_REMOVE;
      },
      new Request{GTK_WIDGET(g_object_ref(window_)), std::move(done)}, nullptr);
}

void WebKitWebViewHost::snapshotContent(const std::filesystem::path& pngFile, std::function<void(bool)> done) {
  base::requireMainThread("WebKitWebViewHost::snapshotContent");
  if (!content_) {
    log::error("screenshot: the window shows no page");
    done(false);
    return;
  }
  struct Request {
    std::filesystem::path file;
    std::function<void(bool)> done;
  };
  webkit_web_view_get_snapshot(
      content_->webView(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Request> request(static_cast<Request*>(data));
        GError* error = nullptr;
        cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
        bool ok = false;
        if (surface) {
          ok = cairo_surface_write_to_png(surface, request->file.c_str()) == CAIRO_STATUS_SUCCESS;
          if (!ok) log::error("screenshot: cannot write " + request->file.string());
          cairo_surface_destroy(surface);
        } else {
          log::error(std::string("screenshot: ") + (error ? error->message : "no picture"));
          if (error) g_error_free(error);
        }
        request->done(ok);
      },
      new Request{pngFile, std::move(done)});
}

}  // namespace tavero::platform
