// A program on a test's bus: a connection of its own, served by a thread of
// its own, so that it answers calls however the test's thread is busy
// (waiting for a child process, or serving the code under test's loop).
// Calls it makes are recorded with their answers.
//
// Thread rules: any thread; run() executes on the peer's thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GVariant GVariant;

namespace tavero::testing {

class BusPeer {
 public:
  explicit BusPeer(const std::string& address);
  ~BusPeer();
  BusPeer(const BusPeer&) = delete;
  BusPeer& operator=(const BusPeer&) = delete;

  std::string uniqueName() const { return uniqueName_; }
  bool connected() const { return connection_ != nullptr; }

  // Runs `task` on the peer's thread with its connection, and waits for it.
  void run(const std::function<void(GDBusConnection*)>& task);

  // Calls `method` (parameters floating or null) without waiting; its
  // answer, as GLib prints the reply ("({'id': <'m1'>},)", "()") or
  // "error NAME", is added to answers().
  void call(const std::string& destination, const std::string& path, const std::string& interface,
            const std::string& method, GVariant* parameters);
  std::vector<std::string> answers() const;
  // Waits until there are `count` answers (at most `seconds`).
  bool waitForAnswers(size_t count, int seconds = 10) const;

 private:
  void answered(std::string answer);

  GMainContext* context_;
  GMainLoop* loop_;
  GDBusConnection* connection_ = nullptr;
  std::string uniqueName_;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> answers_;
};

}  // namespace tavero::testing
