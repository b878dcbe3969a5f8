// Decides every download the web view starts (see DownloadRules.h). Web
// content that an app shows (an ad, a login page in a frame) may start
// downloads too, and WebKit on its own would save them into the user's
// folders, replacing files of the same name.
//
// Thread rules: main thread only.
#pragma once

#include <filesystem>
#include <string>

#include "platform/linux/DownloadRules.h"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitDownload WebKitDownload;

namespace tavero::platform {

class DownloadGuard {
 public:
  // Watches the downloads of `context` (which must outlive this object);
  // `downloadsFolder` empty: the user's Downloads folder.
  DownloadGuard(WebKitWebContext* context, std::filesystem::path downloadsFolder);
  ~DownloadGuard();
  DownloadGuard(const DownloadGuard&) = delete;
  DownloadGuard& operator=(const DownloadGuard&) = delete;

  void setRules(DownloadRules rules) { rules_ = std::move(rules); }

 private:
  void started(WebKitDownload* download);
  bool decideDestination(WebKitDownload* download, const std::string& suggestedName);

  WebKitWebContext* context_;
  std::filesystem::path downloadsFolder_;
  DownloadRules rules_;
};

}  // namespace tavero::platform
