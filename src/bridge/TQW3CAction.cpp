#include "bridge/TQW3CAction.h"

namespace tavero::bridge {

const TQW3CAction::Operation* TQW3CAction::operation(std::string_view name) const {
  auto it = operations_.find(name);
  return it == operations_.end() ? nullptr : &it->second;
}

const TQW3CAction::BytesOperation* TQW3CAction::bytesOperation(std::string_view name) const {
  auto it = bytesOperations_.find(name);
  return it == bytesOperations_.end() ? nullptr : &it->second;
}

void TQW3CAction::addBytesOperation(std::string name, BytesOperation operation) {
  bytesOperations_.insert_or_assign(std::move(name), std::move(operation));
}

void TQW3CAction::pageDocumentEnded(std::string_view) {}

void TQW3CAction::addOperation(std::string name, Operation operation) {
  operations_.insert_or_assign(std::move(name), std::move(operation));
}

Arguments TQW3CAction::arguments() const {
  std::lock_guard lock(slotsMutex_);
  return arguments_;
}

void TQW3CAction::setArguments(Arguments arguments) {
  std::lock_guard lock(slotsMutex_);
  arguments_ = std::move(arguments);
}

std::optional<json::Value> TQW3CAction::result() const {
  std::lock_guard lock(slotsMutex_);
  return result_;
}

void TQW3CAction::setResult(std::optional<json::Value> result) {
  std::lock_guard lock(slotsMutex_);
  result_ = std::move(result);
}

}  // namespace tavero::bridge
