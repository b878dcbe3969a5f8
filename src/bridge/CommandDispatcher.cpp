#include "bridge/CommandDispatcher.h"

#include <exception>

#include "json/JsonCodec.h"
#include "log/Log.h"
#include "log/RefusalLog.h"

namespace tavero::bridge {
namespace {

std::string className(std::string_view classPart) {
  if (classPart.starts_with("TQ")) return std::string(classPart);
  return "TQ" + std::string(classPart);
}

// Nothing an operation throws may reach a transport, or end a queue thread.
bool runGuarded(const TQW3CAction::Operation& operation, Invocation& invocation, std::string_view command) {
  try {
    operation(invocation);
    return true;
  } catch (const std::exception& e) {
    log::error("bridge: \"" + std::string(command) + "\" failed with an unexpected exception: " + e.what());
  } catch (...) {
    log::error("bridge: \"" + std::string(command) + "\" failed with an unexpected exception");
  }
  return false;
}

// The module and the operation name of "class#operation"; a null module
// when the command has no "#".
std::pair<TQW3CAction*, std::string_view> moduleOf(ModuleRegistry& modules, std::string_view command) {
  size_t hash = command.find('#');
  if (hash == std::string::npos) return {nullptr, {}};
  return {modules.sharedInstance(className(command.substr(0, hash))), command.substr(hash + 1)};
}

}  // namespace

BytesOutcome CommandDispatcher::dispatchBytes(const BridgeCall& call, std::string_view bytes) {
  CallsInFlight::Hold hold = calls_ ? calls_->begin() : nullptr;
  Invocation invocation = call.invocation();
  const std::string command(invocation.text("command"));
  if (command.find('#') == std::string::npos) {
    log::refusal("bridge: a bytes call without a \"class#operation\" command");
    return {net::HTTPStatus::bad_request, std::nullopt, {}};
  }
  auto [module, name] = moduleOf(modules_, command);
  const TQW3CAction::BytesOperation* operation = module ? module->bytesOperation(name) : nullptr;
  if (!operation) {
    log::refusal("bridge: unknown bytes command \"" + command + "\"");
    return {net::HTTPStatus::not_found, std::nullopt, {}};
  }
  try {
    TQW3CAction::BytesAnswer answer = (*operation)(invocation, bytes);
    return {net::HTTPStatus::ok, std::move(answer.value), std::move(answer.bytes)};
  } catch (const std::exception& e) {
    log::error("bridge: \"" + command + "\" failed with an unexpected exception: " + e.what());
  } catch (...) {
    log::error("bridge: \"" + command + "\" failed with an unexpected exception");
  }
  return {net::HTTPStatus::internal_server_error, std::nullopt, {}};
}

bool CommandDispatcher::isSynchronous(const BridgeCall& call) { return call.invocation().flag("sync"); }

CallOutcome CommandDispatcher::dispatch(const BridgeCall& call) {
  CallsInFlight::Hold hold = calls_ ? calls_->begin() : nullptr;
  Invocation invocation = call.invocation();
  const std::string command(invocation.text("command"));
  size_t hash = command.find('#');
  if (hash == std::string::npos) {
    log::refusal("bridge: a call without a \"class#operation\" command");
    return {net::HTTPStatus::bad_request, std::nullopt};
  }
  TQW3CAction* module = modules_.sharedInstance(className(std::string_view(command).substr(0, hash)));
  const TQW3CAction::Operation* operation = module ? module->operation(std::string_view(command).substr(hash + 1)) : nullptr;
  if (!operation) {
    log::refusal("bridge: unknown command \"" + command + "\"");
    return {net::HTTPStatus::not_found, std::nullopt};
  }

  module->setArguments(invocation.sharedArguments());
  module->setResult(std::nullopt);

  if (!invocation.flag("sync")) {
    queue_.post([operation, command, queued = std::move(invocation), hold = std::move(hold)]() mutable {
      runGuarded(*operation, queued, command);
    });
    return {net::HTTPStatus::ok, std::nullopt};
  }

  if (!runGuarded(*operation, invocation, command)) return {net::HTTPStatus::internal_server_error, std::nullopt};
  // The answer is not kept on the module: a statement's rows may be large.
  CallOutcome outcome;
  if (invocation.result()) outcome.body = json::JsonCodec::jsonStringForValue(*invocation.result());
  return outcome;
}

}  // namespace tavero::bridge
