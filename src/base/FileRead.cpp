#include "base/FileRead.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavero::base {

FileRead readFile(const std::filesystem::path& file, uintmax_t maxBytes) {
  FileRead read;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    read.error = errno;
    read.result = read.error == ENOENT ? FileRead::Result::missing : FileRead::Result::cannotOpen;
    return read;
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      read.error = errno;
      read.result = FileRead::Result::cannotRead;
      break;
    }
    if (got == 0) break;
    if (static_cast<uintmax_t>(got) > maxBytes - read.text.size()) {
      read.result = FileRead::Result::tooLarge;
      break;
    }
    read.text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (!read.ok()) read.text.clear();
  return read;
}

std::optional<std::string> readFileText(const std::filesystem::path& file, uintmax_t maxBytes) {
  FileRead read = readFile(file, maxBytes);
  if (!read.ok()) return std::nullopt;
  return std::move(read.text);
}

FileContent readWholeFile(const std::filesystem::path& file) {
  FileRead read = readFile(file);
  switch (read.result) {
    case FileRead::Result::read: return {std::move(read.text), std::nullopt};
    case FileRead::Result::missing: return {};
    case FileRead::Result::cannotOpen:
      return {std::nullopt, "cannot open " + file.string() + ": " + std::strerror(read.error)};
    case FileRead::Result::tooLarge:
    case FileRead::Result::cannotRead: break;
  }
  return {std::nullopt, "cannot read " + file.string() + ": " + std::strerror(EIO)};
}

}  // namespace tavero::base
