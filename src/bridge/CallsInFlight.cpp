#include "bridge/CallsInFlight.h"

namespace tavero::bridge {

CallsInFlight::Hold CallsInFlight::begin() {
  ++begun_;
  ++underWay_;
  // The hold points at nothing; only its deleter matters.
  return Hold(static_cast<void*>(nullptr), [this](void*) { --underWay_; });
}

}  // namespace tavero::bridge
