// The root view controller: shows one page's web view and answers rotation
// requests from the bundle's list of supported orientations.
#pragma once

#include <string>
#include <vector>

namespace tavero::host {

class TQWebView;

class TQViewController {
 public:
  explicit TQViewController(std::vector<std::string> supportedOrientations);

  TQWebView* view() const { return view_; }
  void setView(TQWebView* view) { view_ = view; }

  // Orientation codes: 1 portrait, 2 portrait upside down, 3 landscape
  // right, 4 landscape left. True when the bundle lists that orientation.
  bool shouldAutorotateToInterfaceOrientation(int orientation) const;

 private:
  std::vector<std::string> supportedOrientations_;
  TQWebView* view_ = nullptr;  // owned by the view manager or the engine
};

}  // namespace tavero::host
