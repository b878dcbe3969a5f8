// Carries out one bridge call, whatever road it came by (an HTTP request or
// a message on the page channel): finds the module and the operation that
// "command" names, and either runs the operation now and returns its answer
// at once ("sync"), or queues it on the command dispatch queue and returns.
//
// Thread rules: any thread. A synchronous call runs on the calling thread,
// so callers run them where waiting is harmless (a SerialExecutor).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/CallsInFlight.h"
#include "bridge/CommandDispatchQueue.h"
#include "bridge/Invocation.h"
#include "bridge/ModuleRegistry.h"
#include "net/HTTPMessage.h"

namespace tavero::bridge {

// The arguments of one call, as the module will see them.
struct BridgeCall {
  Arguments values;                           // every key: its text, or the array/object read from it
  std::shared_ptr<const ArgumentTexts> texts;  // the page's text of the values that were read as JSON

  Invocation invocation() const { return Invocation(values, texts); }
};

struct CallOutcome {
  net::HTTPStatus status = net::HTTPStatus::ok;
  std::optional<std::string> body;  // the JSON text of a synchronous answer, if any
};

// What a bytes call gave: the status, and with 200 the operation's answer.
struct BytesOutcome {
  net::HTTPStatus status = net::HTTPStatus::ok;
  std::optional<json::Value> value;
  std::string bytes;
};

class CommandDispatcher {
 public:
  // `calls` (may be null) counts each call until it has run, queued ones
  // included; it must outlive the queue's tasks.
  CommandDispatcher(ModuleRegistry& modules, CommandDispatchQueue& queue, CallsInFlight* calls = nullptr)
      : modules_(modules), queue_(queue), calls_(calls) {}

  // Whether the call asks to be run at once.
  static bool isSynchronous(const BridgeCall& call);

  // Runs a synchronous call here and now, or queues any other. 400 for a
  // call without "class#operation", 404 for an unknown module or
  // operation (the module is still created), 500 when the operation threw.
  CallOutcome dispatch(const BridgeCall& call);
  // Runs the bytes operation "command" names here and now, with `bytes`
  // beside the call's arguments; 400, 404 and 500 as dispatch() says.
  BytesOutcome dispatchBytes(const BridgeCall& call, std::string_view bytes);

 private:
  ModuleRegistry& modules_;
  CommandDispatchQueue& queue_;
  CallsInFlight* calls_;
};

}  // namespace tavero::bridge
