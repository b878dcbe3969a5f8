#include "platform/linux/DesktopURLOpener.h"

#include <gio/gio.h>

#include "log/Log.h"

namespace tavero::platform {

DesktopURLOpener::DesktopURLOpener(base::MainThread& mainThread, URLOpener& record)
    : mainThread_(mainThread), record_(record) {}

void DesktopURLOpener::openURL(const std::string& url) {
  record_.openURL(url);
  mainThread_.post(alive_.guard([url] { launchDefaultHandler(url); }));
}

bool DesktopURLOpener::launchDefaultHandler(const std::string& url) {
  char* scheme = g_uri_parse_scheme(url.c_str());
  if (!scheme) {
    log::warning("url: not opened, not a URL: " + url);
    return false;
  }
  GAppInfo* handler = g_app_info_get_default_for_uri_scheme(scheme);
  std::string schemeText = scheme;
  g_free(scheme);
  if (!handler) {
    log::warning("url: not opened, no application on this desktop handles \"" + schemeText + ":\" URLs: " + url);
    return false;
  }
  g_object_unref(handler);
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
    log::warning("url: " + url + " could not be opened: " + (error ? error->message : "unknown error"));
    if (error) g_error_free(error);
    return false;
  }
  log::info("url: opened " + url);
  return true;
}

}  // namespace tavero::platform
