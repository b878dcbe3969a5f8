// Opens URLs with the desktop's default handler for their scheme (GIO: the
// browser for web pages, the mail program for mailto:, a Tavero app for the
// scheme it registered with `tavero install`). Every URL is also recorded.
//
// Thread rules: openURL() from any thread; the launch happens on the main
// thread. Destroy on the main thread.
#pragma once

#include <memory>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "platform/URLOpener.h"

namespace tavero::platform {

class DesktopURLOpener : public URLOpener {
 public:
  // Every URL is also handed to `record` (which keeps the list of opened
  // URLs); both must outlive this object.
  DesktopURLOpener(base::MainThread& mainThread, URLOpener& record);

  void openURL(const std::string& url) override;

  // Hands `url` to the default handler of its scheme; false (logged) when
  // there is none or it cannot be started. Main thread.
  static bool launchDefaultHandler(const std::string& url);

 private:
  base::MainThread& mainThread_;
  URLOpener& record_;
  base::AliveToken alive_;
};

}  // namespace tavero::platform
