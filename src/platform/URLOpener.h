// Opening a URL in whichever application of the device handles it (a web
// page in the browser, mailto: in the mail program, another app's scheme
// in that app). Whether a URL may be opened at all is the caller's policy.
//
// Thread rules: openURL() from any thread; it returns at once and reports
// nothing (failures are logged).
#pragma once

#include <string>

namespace tavero::platform {

class URLOpener {
 public:
  virtual ~URLOpener() = default;
  virtual void openURL(const std::string& url) = 0;
};

}  // namespace tavero::platform
