// The connection module: after `watch`, every page that has watched
// receives a report {"type": "WIFI"|"CELL_3G"|"NONE", "online": "1"|"0"} at
// once and again on every change of reachability. One callback id, that of
// the latest watch, serves every page; a page that watches twice is told
// twice. There is no way to stop watching, but a page's watch ends with its
// document (navigated from, reloaded): the next document watches anew.
//
// Thread rules: `watch` from any thread. Change events arrive on the
// platform's thread and are handed to the main thread, where the status is
// read and the reports are sent. The callback id and the page list are
// behind a mutex; events and main-thread tasks reach them through a weak
// handle, and the destructor stops the monitor, so nothing reaches a
// destroyed module.
#pragma once

#include <memory>
#include <string_view>

#include "base/MainThread.h"
#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "modules/Reachability.h"
#include "platform/NetworkReachability.h"

namespace tavero::modules {

class TQConnection : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQConnection";

  // The services must outlive the module.
  TQConnection(bridge::CallbackDelivery& callbacks, platform::NetworkReachability& network,
               base::MainThread& mainThread);
  ~TQConnection() override;

  void watch(bridge::Invocation& invocation);
  void pageDocumentEnded(std::string_view pageName) override;

  // The report for a status: "WIFI" and "CELL_3G" are online ("1"), anything
  // else is "NONE", offline ("0").
  static json::Object reportFor(NetworkStatus status);

 private:
  struct State;

  static void notifyJavascript(const std::weak_ptr<State>& weak, base::MainThread& mainThread);
  static void notifyJavascriptInternal(const std::shared_ptr<State>& state);

  platform::NetworkReachability& network_;
  base::MainThread& mainThread_;
  std::shared_ptr<State> state_;
};

}  // namespace tavero::modules
