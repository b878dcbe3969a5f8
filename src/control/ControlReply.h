// The answer to one control command whose handler answers later (a page's
// script that runs in the web process, a wait): hand it the answer once,
// from any thread. A reply dropped unanswered answers with an error by
// itself, so that a client never waits for an answer that cannot come.
//
// Thread rules: copies may be used and dropped on any thread; the first
// answer wins, later ones are ignored.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "control/ControlAnswer.h"

namespace tavero::control {

class ControlReply {
 public:
  using Done = std::function<void(ControlAnswer)>;

  explicit ControlReply(Done done) : state_(std::make_shared<State>(std::move(done))) {}

  void operator()(ControlAnswer answer) const { state_->answer(std::move(answer)); }
  bool answered() const { return state_->answered(); }

 private:
  class State {
   public:
    explicit State(Done done) : done_(std::move(done)) {}
    ~State() { answer(ControlAnswer::error("the command ended without an answer")); }

    void answer(ControlAnswer answer) {
      Done done;
      {
        std::lock_guard lock(mutex_);
        done = std::exchange(done_, nullptr);
      }
      if (done) done(std::move(answer));
    }
    bool answered() const {
      std::lock_guard lock(mutex_);
      return !done_;
    }

   private:
    mutable std::mutex mutex_;  // guards done_
    Done done_;                 // empty once answered
  };

  std::shared_ptr<State> state_;
};

}  // namespace tavero::control
