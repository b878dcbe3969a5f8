#include "modules/files/FileSystemRequest.h"

namespace tavero::modules::files {

std::optional<EntryPath> FileSystemRequest::validPath(std::string_view text) const {
  auto path = EntryPath::fromAbsolute(text);
  if (!path || !root_.exists(*path)) return std::nullopt;
  return path;
}

void FileSystemRequest::succeed(std::optional<json::Value> value) const {
  callbacks_->invokeCallback(success_, value);
}

void FileSystemRequest::fail(std::string_view message) const {
  callbacks_->invokeCallback(failure_, json::Value(message));
}

void FileSystemRequest::fail(std::string_view message, const std::error_code& reason) const {
  std::string text(message);
  text += ": ";
  text += reason.message();
  fail(text);
}

}  // namespace tavero::modules::files
