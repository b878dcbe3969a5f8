// A UnifiedPush distributor for tests, on a bus of the test's: it owns
// "org.unifiedpush.Distributor.<name>" and offers /org/unifiedpush/Distributor
// with version 2's interface (org.unifiedpush.Distributor2, a{sv}
// arguments) or only version 1's (org.unifiedpush.Distributor1). Register
// is answered as the test chose; an accepted app is then sent NewEndpoint.
// The test sends the app Message and Unregistered as a distributor would.
//
// Thread rules: any thread.
#pragma once

#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/BusPeer.h"

namespace tavero::testing {

class StandInDistributor {
 public:
  struct Options {
    int version = 2;
    std::string name = "standin";  // after "org.unifiedpush.Distributor."
    std::string endpoint = "https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq";
    std::optional<std::string> refusal;  // the reason Register is refused with
  };
  struct Registration {
    std::string sender;  // the app's unique name
    std::string service;
    std::string token;
    std::string description;
  };

  StandInDistributor(const std::string& address, Options options);
  ~StandInDistributor();

  // Whether it owns its name (and so can be found).
  bool ready() const { return ready_; }
  std::vector<Registration> registrations() const;
  bool waitForRegistrations(size_t count, int seconds = 10) const;

  // Calls the last registered app's connector; the answers come in peer().answers().
  void sendMessage(const std::string& bytes, const std::string& id = "message-1");
  void sendNewEndpoint(const std::string& endpoint);
  void sendUnregistered();

  BusPeer& peer() { return peer_; }
  std::string busName() const { return "org.unifiedpush.Distributor." + options_.name; }

 private:
  void registered(Registration registration);
  void ownership(bool owned);  // on the peer's thread

  Options options_;
  BusPeer peer_;
  unsigned ownership_ = 0;
  unsigned object_ = 0;
  bool ready_ = false;
  std::promise<bool> owned_;
  bool ownershipKnown_ = false;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Registration> registrations_;
};

}  // namespace tavero::testing
