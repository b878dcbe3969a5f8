// Making the device vibrate once (a short buzz).
//
// Thread rules: vibrate() from any thread; it returns at once.
#pragma once

namespace tavero::platform {

class Vibrator {
 public:
  virtual ~Vibrator() = default;
  virtual void vibrate() = 0;
};

}  // namespace tavero::platform
