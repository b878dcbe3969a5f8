// Which installed applications of the desktop open a URL scheme, as the
// desktop decides where to send a URL (x-scheme-handler/<scheme>).
#pragma once

#include <string>
#include <vector>

namespace tavero::platform {

class SchemeHandlers {
 public:
  virtual ~SchemeHandlers() = default;
  // The desktop entry ids ("org.example.Chat.desktop") of the applications
  // that open `scheme` URLs (the default one first), leaving out the entry
  // `ownEntry` (an app's own earlier registration). Empty: nobody else does.
  virtual std::vector<std::string> handlersOf(const std::string& scheme, const std::string& ownEntry) = 0;
};

}  // namespace tavero::platform
