// A private X display (Xvfb) for running the shell without a screen.
//
// The display ends with the shell however the shell ends: the destructor
// stops it, and the kernel sends it SIGTERM when the thread that started it
// ends (a killed shell included, kill -9 too). It runs in a process group of
// its own, so Ctrl-C in the shell's terminal reaches the shell, which then
// stops in order, and not the display under it.
//
// Thread rules: start() from the thread that outlives the display (the main
// thread): the kernel ties the display's life to that thread.
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
  // Stops the server and waits for it to end.
  ~XvfbDisplay();

  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  const std::string& display() const { return display_; }  // e.g. ":1"
  pid_t pid() const { return pid_; }

 private:
  XvfbDisplay(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

}  // namespace tavero::platform
