// A private X display (Xvfb) for running the shell without a screen.
//
// Only this user's processes may use it: the server runs with access
// control, admitting clients that present a random cookie kept in an X
// authority file only this user can read (authorityFile(); point
// XAUTHORITY at it before GTK starts, so that WebKit's processes inherit
// it). It listens on local sockets only, never on TCP.
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

#include "platform/linux/XAuthorityFile.h"

namespace tavero::platform {

class XvfbDisplay {
 public:
  // Starts Xvfb on a display number it picks itself; an error message when
  // it cannot (not installed, did not start within a few seconds, no
  // authority file).
  static std::variant<std::unique_ptr<XvfbDisplay>, std::string> start();
  // Stops the server and waits for it to end.
  ~XvfbDisplay();

  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  const std::string& display() const { return display_; }  // e.g. ":1"
  pid_t pid() const { return pid_; }
  // The X authority file with the display's cookie; removed with the display.
  const std::filesystem::path& authorityFile() const { return authority_->path(); }
  // Points this process, and the processes it starts from now on, at the
  // display: DISPLAY, XAUTHORITY, and GDK_BACKEND=x11. Call before GTK
  // starts, while no other thread reads the environment.
  void makeDefault() const;

 private:
  XvfbDisplay(pid_t pid, std::string display, std::unique_ptr<XAuthorityFile> authority)
      : pid_(pid), display_(std::move(display)), authority_(std::move(authority)) {}
  pid_t pid_;
  std::string display_;
  std::unique_ptr<XAuthorityFile> authority_;  // outlives the server: it rereads the file when it resets
};

}  // namespace tavero::platform
