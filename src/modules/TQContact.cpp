#include "modules/TQContact.h"

#include "log/Log.h"

namespace tavero::modules {

TQContact::TQContact() {
  addOperation("find", [this](bridge::TQInvocation& invocation) { find(invocation); });
}

void TQContact::find(bridge::TQInvocation&) {
  log::debug("TQContact find: accepted; there is no contact search, so no callback follows");
}

}  // namespace tavero::modules
