// Web views on WebKitGTK in one GTK window. All views share one web
// context, whose website data (local storage among it) lives under the
// data directory given.
//
// Thread rules: main thread only. REQUIRES: GTK initialised (see
// initializeGtk).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/ContentFilterGate.h"
#include "platform/linux/DownloadGuard.h"
#include "platform/WebView.h"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitAutomationSession WebKitAutomationSession;

namespace tavero::platform {

class WebKitPageView;

// Initialises GTK; an error message when there is no display to use.
std::optional<std::string> initializeGtk();

class WebKitWebViewHost : public WebViewHost {
 public:
  struct Options {
    std::filesystem::path dataDirectory;   // website data: local storage, IndexedDB...
    std::filesystem::path cacheDirectory;   // also keeps the compiled content rules
    // Where cookies are kept across launches (SQLite); empty: for this run
    // only. Cookies are accepted from every site either way.
    std::filesystem::path cookieFile;
    // Where downloads the bundle allows are saved; empty: the user's
    // Downloads folder.
    std::filesystem::path downloadsFolder;
    std::string windowTitle = "Tavero";
    int width = 1024;
    int height = 768;
    std::function<void()> onWindowClosed;  // the user closed the window
    // The window was minimised or hidden (true), or shown again (false).
    std::function<void(bool hidden)> onWindowHiddenChanged;
    // A WebDriver server (WebKitWebDriver, which starts the shell with
    // WEBKIT_INSPECTOR_SERVER set) may drive the app: its session gets the
    // app's own start page view, with everything a normal run gives it.
    // Whoever reaches the driver's port on loopback then controls the app.
    bool automation = false;
    std::string automationName = "tavero";  // the browser's name and version the session reports
    std::string automationVersion;          // "MAJOR.MINOR.MICRO"
  };

  explicit WebKitWebViewHost(Options options);
  ~WebKitWebViewHost() override;

  std::unique_ptr<WebView> createWebView(const std::string& pageName) override;
  void showWindow() override;
  void setContentView(WebView* view) override;
  void setBundleDocuments(BundleDocuments documents) override;
  void setPageMessageHandler(PageMessageHandler handler) override;

  // The shell's web process extension (src/webextension): WebKit loads the
  // modules of `folder` into every web process started from now on, and
  // gives them the socket of page calls, the page token and the bundle
  // documents' rule as set then (setBundleDocuments). The socket's folder is
  // made visible to the web process sandbox when that is on.
  struct WebExtension {
    std::filesystem::path folder;
    std::filesystem::path socketPath;
    std::string pageToken;
  };
  void useWebExtension(WebExtension extension);

  // Writes a PNG of what the window shows; `done(ok)` runs on the main
  // thread when the file is written (or could not be).
  // The app's window, for dialogs and cues shown over it.
  GtkWindow* window() const;
  // Brings the window to the front (shown, no longer minimised, focused),
  // as clicking the app's notification does.
  void presentWindow();
  // Whether the window has the keyboard focus (the user is looking at it).
  bool windowIsFocused() const;

  void snapshotContent(const std::filesystem::path& pngFile, std::function<void(bool ok)> done);

  // A PNG of the window as it appears on the display, with the dialogs
  // over it (alerts), handed to `done` on the main thread once what is
  // waiting to be drawn has been drawn. It is read from the screen: a
  // window of another program over it shows too, and a window that is not
  // on screen (minimised) gives no picture.
  void snapshotWindow(std::function<void(Snapshot)> done);

 private:
  void allowAutomation();
  static void automationStarted(WebKitWebContext* context, WebKitAutomationSession* session, void* self);
  // The view a new automation session drives: the window's content, once.
  WebKitWebView* viewForAutomation();

  static void initializeWebExtensions(WebKitWebContext* context, void* self);

  Options options_;
  WebKitWebContext* context_;
  std::optional<WebExtension> webExtension_;
  std::unique_ptr<DownloadGuard> downloads_;
  GtkWidget* window_;
  WebKitPageView* content_ = nullptr;  // not owned
  std::shared_ptr<const BundleDocuments> bundle_;
  std::shared_ptr<ContentFilterGate> filterGate_;
  // Shared with the views, which may outlive a handler change.
  std::shared_ptr<PageMessageHandler> messageHandler_ = std::make_shared<PageMessageHandler>();
  bool hidden_ = false;                // minimised or withdrawn, as last reported
  bool automationHasView_ = false;     // the content view went to an automation session
};

}  // namespace tavero::platform
