#include "bridge/ModuleRegistry.h"

namespace tavero::bridge {

void ModuleRegistry::add(std::string className, Factory factory) {
  entries_[std::move(className)].factory = std::move(factory);
}

TQW3CAction* ModuleRegistry::sharedInstance(std::string_view className) {
  auto it = entries_.find(className);
  if (it == entries_.end()) return nullptr;
  Entry& entry = it->second;
  // Per-module once-flags: a module's constructor may name another module.
  std::call_once(entry.created, [&entry] {
    entry.instance = entry.factory();
    entry.published.store(entry.instance.get(), std::memory_order_release);
  });
  return entry.instance.get();
}

void ModuleRegistry::pageDocumentEnded(std::string_view pageName) {
  for (auto& [name, entry] : entries_) {
    if (TQW3CAction* module = entry.published.load(std::memory_order_acquire)) module->pageDocumentEnded(pageName);
  }
}

}  // namespace tavero::bridge
