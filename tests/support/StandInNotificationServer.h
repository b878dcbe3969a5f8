// A desktop notification server for tests, on a bus of the test's: it owns
// org.freedesktop.Notifications, records what Notify shows, and emits
// ActionInvoked when the test clicks a notification.
//
// Thread rules: any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "support/BusPeer.h"

namespace tavero::testing {

class StandInNotificationServer {
 public:
  struct Notification {
    uint32_t id;
    std::string appName;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
  };

  // `capabilities`: what GetCapabilities answers.
  StandInNotificationServer(const std::string& address,
                            std::vector<std::string> capabilities = {"actions", "body", "body-markup"});
  ~StandInNotificationServer();

  bool ready() const { return ready_; }
  std::vector<Notification> notifications() const;
  bool waitForNotifications(size_t count, int seconds = 10) const;
  // Emits ActionInvoked(id, action), as the server does when the user clicks.
  void invokeAction(uint32_t id, const std::string& action = "default");

  BusPeer& peer() { return peer_; }

 private:
  void ownership(bool owned);
  void notified(Notification notification);

  std::vector<std::string> capabilities_;
  BusPeer peer_;
  unsigned ownership_ = 0;
  bool ready_ = false;
  std::promise<bool> owned_;
  bool ownershipKnown_ = false;
  uint32_t nextId_ = 1;  // the peer's thread only
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Notification> notifications_;
};

}  // namespace tavero::testing
