// An X authority file that only this user can read, holding one random
// MIT-MAGIC-COOKIE-1 for a private display.
//
// The X server started with `-auth FILE` admits only clients that present
// the cookie; the shell's own processes find it through XAUTHORITY. The
// entry matches any display (family FamilyWild, empty display number), so
// the file can be written before the server picks its display number.
//
// The file lives in a folder of its own (mode 0700; the file 0600) under
// $TMPDIR (else /tmp), named for the process; both are removed when the
// object goes. A shell killed with -9 leaves them behind, readable by its
// own user only; the next create() of that user removes them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <variant>

namespace tavero::platform {

class XAuthorityFile {
 public:
  // Makes the folder and writes the file with a cookie of kCookieBytes from
  // the kernel's random source; a message naming the step that failed.
  static std::variant<std::unique_ptr<XAuthorityFile>, std::string> create();
  ~XAuthorityFile();

  XAuthorityFile(const XAuthorityFile&) = delete;
  XAuthorityFile& operator=(const XAuthorityFile&) = delete;

  static constexpr size_t kCookieBytes = 16;
  static constexpr char kFileName[] = "Xauthority";

  const std::filesystem::path& path() const { return path_; }

 private:
  explicit XAuthorityFile(std::filesystem::path folder)
      : folder_(std::move(folder)), path_(folder_ / kFileName) {}

  std::filesystem::path folder_;
  std::filesystem::path path_;
};

}  // namespace tavero::platform
