// Maps module class names ("TQSQLite") to their shared instances. Each
// module is created on first use, by whichever thread names it first, and
// lives as long as the registry.
//
// Thread rules: add() before the registry is shared with other threads;
// sharedInstance() from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/TQW3CAction.h"

namespace tavero::bridge {

class ModuleRegistry {
 public:
  using Factory = std::function<std::unique_ptr<TQW3CAction>()>;

  void add(std::string className, Factory factory);

  // The shared instance of the module named `className`, created now if this
  // is its first use; null when no module has that name.
  TQW3CAction* sharedInstance(std::string_view className);

  template <class Module>
  Module& sharedInstance() {
    return static_cast<Module&>(*sharedInstance(Module::className));
  }

  // Tells every module created so far that the document of page `pageName`
  // went away (TQW3CAction::pageDocumentEnded). Creates no module.
  void pageDocumentEnded(std::string_view pageName);

 private:
  struct Entry {
    Factory factory;
    std::once_flag created;
    std::unique_ptr<TQW3CAction> instance;
    std::atomic<TQW3CAction*> published{nullptr};  // instance, once fully made
  };
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace tavero::bridge
