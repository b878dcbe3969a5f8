// The shell's script message channel in one view's user content manager:
// documents call window.webkit.messageHandlers.tavero.postMessage(text) and
// get a promise of the shell's answer. No network, no port: only the
// documents of this view can send on it (but all of them, framed web
// content included, which is why the messages carry the page token).
//
// Thread rules: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/WebView.h"

typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace tavero::platform {

class PageChannel {
 public:
  static constexpr const char* kHandlerName = "tavero";
  using Receiver = std::function<void(std::string message, std::unique_ptr<PageMessageReply> reply)>;

  // Registers the handler on `manager` (which must outlive this object).
  PageChannel(WebKitUserContentManager* manager, Receiver receiver);
  ~PageChannel();

  PageChannel(const PageChannel&) = delete;
  PageChannel& operator=(const PageChannel&) = delete;

 private:
  WebKitUserContentManager* manager_;
  Receiver receiver_;
  unsigned long signalId_ = 0;
};

}  // namespace tavero::platform
