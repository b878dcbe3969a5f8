#include "modules/TQConnection.h"

#include <mutex>
#include <string>
#include <vector>

#include "log/Log.h"

namespace tavero::modules {

struct TQConnection::State {
  explicit State(bridge::CallbackDelivery& delivery) : callbacks(delivery) {}

  bridge::CallbackDelivery& callbacks;

  std::mutex mutex;  // guards every field below
  int32_t jsCallback = 0;
  bool watched = false;  // a watch is set, and a document that set it is there
  std::vector<std::string> pages;
  // The one monitor, made by the first watch and kept for the module's
  // life; later watches reuse it.
  std::unique_ptr<Reachability> reachability;
};

TQConnection::TQConnection(bridge::CallbackDelivery& callbacks, platform::NetworkReachability& network,
                           base::MainThread& mainThread)
    : network_(network), mainThread_(mainThread), state_(std::make_shared<State>(callbacks)) {
  addOperation("watch", [this](bridge::Invocation& call) { watch(call); });
}

TQConnection::~TQConnection() {
  Reachability* reachability;
  {
    std::lock_guard lock(state_->mutex);
    reachability = state_->reachability.get();
  }
  // Waits for a change event in progress; none follows.
  if (reachability) reachability->stopNotifier();
}

json::Object TQConnection::reportFor(NetworkStatus status) {
  json::Object report;
  report.append("type", status == NetworkStatus::ReachableViaWiFi   ? "WIFI"
                        : status == NetworkStatus::ReachableViaWWAN ? "CELL_3G"
                                                                    : "NONE");
  bool online = status == NetworkStatus::ReachableViaWiFi || status == NetworkStatus::ReachableViaWWAN;
  report.append("online", online ? "1" : "0");
  return report;
}

void TQConnection::watch(bridge::Invocation& call) {
  Reachability* monitorToStart = nullptr;
  {
    std::lock_guard lock(state_->mutex);
    state_->jsCallback = call.integer("callback");
    state_->watched = true;
    std::string page = call.pageName();
    if (!page.empty()) state_->pages.push_back(std::move(page));
    if (!state_->reachability) {
      state_->reachability = Reachability::reachabilityForInternetConnection(network_);
      monitorToStart = state_->reachability.get();
    }
  }
  std::weak_ptr<State> weak = state_;
  if (monitorToStart &&
      !monitorToStart->startNotifier([weak, &mainThread = mainThread_] { notifyJavascript(weak, mainThread); })) {
    log::warning("TQConnection: network changes cannot be watched; pages get the status of now only");
  }
  notifyJavascript(weak, mainThread_);
}

void TQConnection::pageDocumentEnded(std::string_view pageName) {
  std::lock_guard lock(state_->mutex);
  const size_t removed = std::erase(state_->pages, pageName);
  // The pages that watched have all gone: nobody is told any more (the
  // monitor runs on, for the next watch).
  if (removed && state_->pages.empty()) state_->watched = false;
}

void TQConnection::notifyJavascript(const std::weak_ptr<State>& weak, base::MainThread& mainThread) {
  // The status is read when the report is made on the main thread, not
  // when the change happened.
  mainThread.post([weak] {
    if (auto state = weak.lock()) notifyJavascriptInternal(state);
  });
}

void TQConnection::notifyJavascriptInternal(const std::shared_ptr<State>& state) {
  Reachability* reachability;
  int32_t callback;
  std::vector<std::string> pages;
  {
    std::lock_guard lock(state->mutex);
    reachability = state->reachability.get();
    callback = state->jsCallback;
    pages = state->pages;
    if (!state->watched) return;
  }
  json::Value report = reportFor(reachability ? reachability->currentReachabilityStatus() : NetworkStatus::NotReachable);
  if (pages.empty()) return state->callbacks.invokeCallback(callback, report);
  for (const std::string& page : pages) state->callbacks.invokeCallback(callback, report, page);
}

}  // namespace tavero::modules
