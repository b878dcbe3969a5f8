// The control commands of an app, known without a running one: the same
// registration as a running shell's (addDeviceCommands), against inert
// services that are never asked anything. For `tavero device help` and
// `tavero device COMMAND --help` when no app runs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/ControlCommandRegistry.h"

namespace tavero::app {

class DeviceCommandCatalogue {
 public:
  DeviceCommandCatalogue();
  ~DeviceCommandCatalogue();

  // As the running app's `help` answers it.
  std::string helpText() const { return commands_->helpText(); }
  // "NAME USAGE" and the help line of the command `words` name.
  std::optional<std::string> commandHelp(const std::vector<std::string>& words) const {
    return commands_->commandHelp(words);
  }

 private:
  struct InertServices;
  std::unique_ptr<InertServices> services_;
  // Its handlers hold the inert services: it goes first, and none of them
  // is ever run (only the help is read).
  std::unique_ptr<control::ControlCommandRegistry> commands_;
};

}  // namespace tavero::app
