// Application events that modules turn into callbacks for the pages
// (pause and resume). The application delegate calls them; the default
// does nothing, for an application without those modules.
#pragma once

namespace tavero::host {

class TQAppEvents {
 public:
  virtual ~TQAppEvents() = default;
  virtual void onDevicePause() {}
  virtual void onDeviceResume() {}
};

}  // namespace tavero::host
