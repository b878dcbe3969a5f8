#include "platform/sim/ForcedNetworkReachability.h"

#include <thread>
#include <vector>

namespace tavero::platform {

struct ForcedNetworkReachability::Shared {
  mutable std::mutex mutex;  // guards forced, lastId and handlers
  std::optional<ForcedNetworkStatus> forced;
  uint64_t lastId = 0;
  std::map<uint64_t, std::shared_ptr<std::function<void()>>> handlers;
  // Held while a handler runs, so that a notifier's removal waits for it.
  std::recursive_mutex running;
};

class ForcedNetworkReachability::Notifier : public Subscription {
 public:
  Notifier(std::shared_ptr<Shared> shared, uint64_t id, std::unique_ptr<Subscription> real)
      : shared_(std::move(shared)), id_(id), real_(std::move(real)) {}
  ~Notifier() override {
    real_.reset();
    {
      std::lock_guard lock(shared_->mutex);
      shared_->handlers.erase(id_);
    }
    std::lock_guard wait(shared_->running);
  }

 private:
  std::shared_ptr<Shared> shared_;
  uint64_t id_;
  std::unique_ptr<Subscription> real_;
};

ForcedNetworkReachability::ForcedNetworkReachability(NetworkReachability& real)
    : real_(real), shared_(std::make_shared<Shared>()) {}

uint32_t ForcedNetworkReachability::flagsFor(ForcedNetworkStatus status) {
  switch (status) {
    case ForcedNetworkStatus::None: return 0;
    case ForcedNetworkStatus::Wifi: return reachability::kReachable;
    case ForcedNetworkStatus::Cell: return reachability::kReachable | reachability::kIsWWAN;
  }
  return 0;
}

std::optional<uint32_t> ForcedNetworkReachability::currentFlags() {
  if (auto status = forced()) return flagsFor(*status);
  return real_.currentFlags();
}

std::optional<ForcedNetworkStatus> ForcedNetworkReachability::forced() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->forced;
}

std::unique_ptr<Subscription> ForcedNetworkReachability::startNotifier(std::function<void()> changed) {
  auto handler = std::make_shared<std::function<void()>>(std::move(changed));
  uint64_t id;
  {
    std::lock_guard lock(shared_->mutex);
    id = ++shared_->lastId;
    shared_->handlers[id] = handler;
  }
  // The real service's events pass only while nothing is forced. Without
  // real events the forced ones still arrive.
  std::weak_ptr<Shared> weak = shared_;
  auto real = real_.startNotifier([weak, id] {
    auto shared = weak.lock();
    if (!shared) return;
    std::shared_ptr<std::function<void()>> target;
    {
      std::lock_guard lock(shared->mutex);
      auto it = shared->handlers.find(id);
      if (shared->forced || it == shared->handlers.end()) return;
      target = it->second;
    }
    std::lock_guard running(shared->running);
    (*target)();
  });
  return std::make_unique<Notifier>(shared_, id, std::move(real));
}

void ForcedNetworkReachability::force(std::optional<ForcedNetworkStatus> status) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->forced = status;
  }
  notifyAll();
}

void ForcedNetworkReachability::notifyAll() {
  std::lock_guard running(shared_->running);
  std::vector<std::shared_ptr<std::function<void()>>> targets;
  {
    std::lock_guard lock(shared_->mutex);
    for (const auto& [id, handler] : shared_->handlers) targets.push_back(handler);
  }
  for (const auto& target : targets) (*target)();
}

}  // namespace tavero::platform
