#include "platform/linux/DownloadGuard.h"

#include <webkit2/webkit2.h>

#include "log/Log.h"
#include "platform/linux/SubresourceLoadLog.h"

namespace tavero::platform {

DownloadGuard::DownloadGuard(WebKitWebContext* context, std::filesystem::path downloadsFolder)
    : context_(context), downloadsFolder_(std::move(downloadsFolder)) {
  g_signal_connect(context_, "download-started",
                   G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer self) {
                     static_cast<DownloadGuard*>(self)->started(download);
                   }),
                   this);
}

DownloadGuard::~DownloadGuard() { g_signal_handlers_disconnect_by_data(context_, this); }

void DownloadGuard::started(WebKitDownload* download) {
  const char* uri = webkit_uri_request_get_uri(webkit_download_get_request(download));
  const std::string url = uri ? uri : "";
  if (auto refusal = downloadRefusal(url, rules_)) {
    log::warning("download of " + urlForLog(url) + " refused: " + *refusal);
    webkit_download_cancel(download);
    return;
  }
  // Where the file goes is decided once WebKit knows its suggested name.
  g_signal_connect(download, "decide-destination",
                   G_CALLBACK(+[](WebKitDownload* download, gchar* suggested, gpointer self) -> gboolean {
                     return static_cast<DownloadGuard*>(self)->decideDestination(download, suggested ? suggested : "");
                   }),
                   this);
}

bool DownloadGuard::decideDestination(WebKitDownload* download, const std::string& suggestedName) {
  auto reserved = reserveDownloadFile(downloadsFolder_.empty() ? userDownloadsFolder() : downloadsFolder_,
                                      suggestedName);
  if (auto* error = std::get_if<std::string>(&reserved)) {
    log::error("download: " + *error);
    webkit_download_cancel(download);
    return true;
  }
  const auto& file = std::get<std::filesystem::path>(reserved);
  // The file is the one just made for this download: WebKit writes over it.
  webkit_download_set_allow_overwrite(download, TRUE);
  webkit_download_set_destination(download, file.c_str());
  log::info("download: saving to " + file.string());
  return true;
}

}  // namespace tavero::platform
