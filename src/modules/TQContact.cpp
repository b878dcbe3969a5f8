#include "modules/TQContact.h"

#include "log/Log.h"

namespace tavero::modules {

TQContact::TQContact() {
  addOperation("find", [this](bridge::Invocation& invocation) { find(invocation); });
}

void TQContact::find(bridge::Invocation&) {
  log::debug("TQContact find: accepted; there is no contact search, so no callback follows");
}

}  // namespace tavero::modules
