// Opens URLs with the desktop's default handler for their scheme (GIO: the
// browser for web pages, the mail program for mailto:, a Tavero app for the
// scheme it registered with `tavero install`). Every URL is also recorded.
//
// Thread rules: openURL() from any thread; the launch happens on the main
// thread. Destroy on the main thread.
#pragma once

#include <memory>

#include "platform/MainThread.h"
#include "platform/URLOpener.h"
#include "platform/sim/RecordingURLOpener.h"

namespace tavero::platform {

class DesktopURLOpener : public URLOpener {
 public:
  // `record` keeps the list of opened URLs; both must outlive this object.
  DesktopURLOpener(MainThread& mainThread, RecordingURLOpener& record);

  void openURL(const std::string& url) override;

  // Hands `url` to the default handler of its scheme; false (logged) when
  // there is none or it cannot be started. Main thread.
  static bool launchDefaultHandler(const std::string& url);

 private:
  MainThread& mainThread_;
  RecordingURLOpener& record_;
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace tavero::platform
