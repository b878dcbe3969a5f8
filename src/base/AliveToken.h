// Lets work that an object hands to another thread or to a later callback
// find out whether the object still exists when the work runs: the object
// holds an AliveToken, the work holds a Watch of it (or is wrapped by
// guard()), and the watch turns false once the token is destroyed.
//
// The check is meant for work that runs on the thread that also destroys
// the owner (usually the main thread): then nothing can destroy the owner
// between the check and the work that follows it.
#pragma once

#include <memory>
#include <utility>

namespace tavero::base {

class AliveToken {
 public:
  class Watch {
   public:
    // Whether the token (and so its owner) still exists.
    explicit operator bool() const { return !flag_.expired(); }

   private:
    friend class AliveToken;
    explicit Watch(std::weak_ptr<const bool> flag) : flag_(std::move(flag)) {}
    std::weak_ptr<const bool> flag_;
  };

  AliveToken() = default;
  // Each owner has a token of its own: a copy would keep the watches of
  // the original alive.
  AliveToken(const AliveToken&) = delete;
  AliveToken& operator=(const AliveToken&) = delete;

  Watch watch() const { return Watch(flag_); }

  // `task` wrapped so that calling it does nothing once the token is gone;
  // the arguments are passed on to `task` otherwise.
  template <typename Task>
  auto guard(Task task) const {
    return [alive = watch(), task = std::move(task)](auto&&... arguments) mutable {
      if (alive) task(std::forward<decltype(arguments)>(arguments)...);
    };
  }

 private:
  std::shared_ptr<const bool> flag_ = std::make_shared<const bool>(true);
};

}  // namespace tavero::base
