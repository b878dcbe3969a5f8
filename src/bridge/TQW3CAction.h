// The contract every module follows. A module is a TQW3CAction with one
// shared instance (kept by the ModuleRegistry) and named operations. An
// operation reads its inputs from its Invocation and answers either at once
// (Invocation::setResult) or later through callback ids and the engine.
//
// Thread rules: operations may run on the bridge's worker thread (sync calls)
// and on several dispatch-queue threads at once, also the same operation of
// the same module. Modules guard the state they keep between calls.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/Invocation.h"
#include "json/JsonValue.h"

namespace tavero::bridge {

class TQW3CAction {
 public:
  using Operation = std::function<void(Invocation&)>;
  // The answer of a bytes operation: a value for the page, and bytes that
  // travel beside it as they are (neither JSON text nor checked as UTF-8).
  struct BytesAnswer {
    json::Value value;
    std::string bytes;
  };
  // An operation that takes bytes beside its arguments and answers at once
  // with bytes: file content on the native road, where a frame carries the
  // bytes outside the JSON text. Runs on the calling thread.
  using BytesOperation = std::function<BytesAnswer(Invocation&, std::string_view bytes)>;

  virtual ~TQW3CAction() = default;

  // The operation named `name`, or null. Operations are fixed once the
  // module is constructed, so looking them up needs no lock.
  const Operation* operation(std::string_view name) const;
  // The bytes operation named `name`, or null (fixed like operations).
  const BytesOperation* bytesOperation(std::string_view name) const;

  // The document of page `pageName` went away (the view loads another
  // document, or is gone): state the module keeps for that page's calls
  // (open transactions, watches) can go. Called on the main thread; must
  // not block. Does nothing unless the module overrides it.
  virtual void pageDocumentEnded(std::string_view pageName);

  // The arguments of the module's latest request, and the latest answer at
  // once. The bridge keeps the arguments up to date and clears the answer
  // before each call; it does not keep answers, which may be large. A view
  // for diagnostics and tests, not an input of operations.
  Arguments arguments() const;
  void setArguments(Arguments arguments);
  std::optional<json::Value> result() const;
  void setResult(std::optional<json::Value> result);

 protected:
  // For constructors of modules only.
  void addOperation(std::string name, Operation operation);
  void addBytesOperation(std::string name, BytesOperation operation);

 private:
  std::map<std::string, Operation, std::less<>> operations_;
  std::map<std::string, BytesOperation, std::less<>> bytesOperations_;

  mutable std::mutex slotsMutex_;  // guards arguments_ and result_
  Arguments arguments_;
  std::optional<json::Value> result_;
};

}  // namespace tavero::bridge
