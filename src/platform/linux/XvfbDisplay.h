// A private X display (Xvfb) for running the shell without a screen.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <variant>

namespace tavero::platform {

class XvfbDisplay {
 public:
  // Starts Xvfb on a display number it picks itself; an error message when
  // it cannot (not installed, did not start within a few seconds).
  static std::variant<std::unique_ptr<XvfbDisplay>, std::string> start();
  // Stops the server.
  ~XvfbDisplay();

  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  const std::string& display() const { return display_; }  // e.g. ":1"

 private:
  XvfbDisplay(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

}  // namespace tavero::platform
