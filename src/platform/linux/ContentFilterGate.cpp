#include "platform/linux/ContentFilterGate.h"

#include <webkit2/webkit2.h>

namespace tavero::platform {

ContentFilterGate::~ContentFilterGate() {
  if (filter_) webkit_user_content_filter_unref(filter_);
}

void ContentFilterGate::close() { open_ = false; }

void ContentFilterGate::open(WebKitUserContentFilter* filter) {
  if (filter) webkit_user_content_filter_ref(filter);
  if (filter_) webkit_user_content_filter_unref(filter_);
  filter_ = filter;
  open_ = true;
  auto waiting = std::move(waiting_);
  waiting_.clear();
  for (auto& apply : waiting) apply(filter_);
}

void ContentFilterGate::whenOpen(Apply apply) {
  if (open_)
    apply(filter_);
  else
    waiting_.push_back(std::move(apply));
}

}  // namespace tavero::platform
