#include "host/TQViewController.h"

#include <algorithm>

#include "log/Log.h"

namespace tavero::host {

TQViewController::TQViewController(std::vector<std::string> supportedOrientations)
    : supportedOrientations_(std::move(supportedOrientations)) {}

bool TQViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
  log::debug("shouldAutorotateToInterfaceOrientation");
  static const char* const kNames[] = {"UIInterfaceOrientationPortrait", "UIInterfaceOrientationPortraitUpsideDown",
                                       "UIInterfaceOrientationLandscapeRight",
                                       "UIInterfaceOrientationLandscapeLeft"};
  if (orientation < 1 || orientation > 4) return false;
  const std::string name = kNames[orientation - 1];
  return std::find(supportedOrientations_.begin(), supportedOrientations_.end(), name) !=
         supportedOrientations_.end();
}

}  // namespace tavero::host
