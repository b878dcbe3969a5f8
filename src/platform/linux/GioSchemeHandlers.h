// The desktop's own answer, through GIO: the default application for
// x-scheme-handler/<scheme> and every application registered for it, from
// the desktop entries and mimeapps.list files of the XDG data and config
// folders.
//
// GIO reads those folders once per process: ask after any change made by
// another process, not before it. Any thread.
#pragma once

#include "platform/SchemeHandlers.h"

namespace tavero::platform {

class GioSchemeHandlers : public SchemeHandlers {
 public:
  std::vector<std::string> handlersOf(const std::string& scheme, const std::string& ownEntry) override;
};

}  // namespace tavero::platform
