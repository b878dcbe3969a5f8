// The number shown on the application's icon.
//
// Thread rules: any thread.
#pragma once

namespace tavero::platform {

class ApplicationBadge {
 public:
  virtual ~ApplicationBadge() = default;
  virtual void setApplicationIconBadgeNumber(int number) = 0;
  virtual int applicationIconBadgeNumber() const = 0;
};

}  // namespace tavero::platform
