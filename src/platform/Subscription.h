// A running stream of platform events (sensor samples, network changes)
// that ends when this object is destroyed.
//
// Contract for every implementation: once the destructor has returned, the
// handler the stream was started with is not running and is never called
// again, so its captures may be freed right after. The destructor may be
// called from any thread except from inside that handler. Callers must not
// hold a lock that the handler takes while destroying a subscription.
#pragma once

namespace tavero::platform {

class Subscription {
 public:
  virtual ~Subscription() = default;
};

}  // namespace tavero::platform
