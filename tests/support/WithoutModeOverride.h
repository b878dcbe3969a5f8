// This thread without the power to ignore file modes (which root has), so
// that a file's or folder's mode means for root what it means for a user.
// Linux keeps capabilities per thread; they come back when this goes.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavero::testing {

class WithoutModeOverride {
 public:
  WithoutModeOverride() {
    ::syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    ::syscall(SYS_capset, &header_, lowered);
  }
  ~WithoutModeOverride() { ::syscall(SYS_capset, &header_, saved_); }
  WithoutModeOverride(const WithoutModeOverride&) = delete;
  WithoutModeOverride& operator=(const WithoutModeOverride&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
};

}  // namespace tavero::testing
