#include "platform/linux/SubresourceLoadLog.h"

#include <webkit2/webkit2.h>

#include "log/Log.h"

namespace tavero::platform {
namespace {

constexpr size_t kLongestLoggedURL = 200;

void deletePageName(gpointer data, GClosure*) { delete static_cast<std::string*>(data); }

std::string resourceURL(WebKitWebResource* resource) {
  const char* uri = webkit_web_resource_get_uri(resource);
  return urlForLog(uri ? uri : "?");
}

void resourceFailed(WebKitWebResource* resource, GError* error, gpointer data) {
  if (!error || isCancelledLoad(error)) return;
  log::warning("page " + *static_cast<std::string*>(data) + ": could not load " + resourceURL(resource) + ": " +
               error->message);
}

void resourceFinished(WebKitWebResource* resource, gpointer data) {
  WebKitURIResponse* response = webkit_web_resource_get_response(resource);
  guint status = response ? webkit_uri_response_get_status_code(response) : 0;
  if (status < 400) return;  // 0 for files: their failures come through "failed"
  log::warning("page " + *static_cast<std::string*>(data) + ": " + resourceURL(resource) + " answered HTTP " +
               std::to_string(status));
}

void resourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource, WebKitURIRequest*, gpointer data) {
  // The document itself: its failure is the view's load failure, reported there.
  if (resource == webkit_web_view_get_main_resource(view)) return;
  const std::string& pageName = *static_cast<std::string*>(data);
  g_signal_connect_data(resource, "failed", G_CALLBACK(resourceFailed), new std::string(pageName), deletePageName,
                        GConnectFlags(0));
  g_signal_connect_data(resource, "finished", G_CALLBACK(resourceFinished), new std::string(pageName),
                        deletePageName, GConnectFlags(0));
}

}  // namespace

void logFailedSubresourceLoads(WebKitWebView* view, const std::string& pageName) {
  g_signal_connect_data(view, "resource-load-started", G_CALLBACK(resourceLoadStarted), new std::string(pageName),
                        deletePageName, GConnectFlags(0));
}

bool isCancelledLoad(const GError* error) {
  return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
         g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
}

std::string urlForLog(std::string_view url) {
  size_t end = url.find_first_of("?#");
  std::string shown(url.substr(0, end));
  if (shown.size() > kLongestLoggedURL) shown = shown.substr(0, kLongestLoggedURL) + "...";
  if (end != std::string_view::npos && url[end] == '?') shown += "?...";
  return shown;
}

}  // namespace tavero::platform
