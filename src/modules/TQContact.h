// Contacts search: `find` is accepted so that pages calling it get their
// answer, but has no search behind it and delivers no callback.
#pragma once

#include <string_view>

#include "bridge/TQW3CAction.h"

namespace tavero::modules {

class TQContact : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQContact";
  TQContact();

  void find(bridge::Invocation& invocation);
};

}  // namespace tavero::modules
