// One request of the file system module: the page's two callbacks and the
// root of the file system it names, opened for this request.
//
// Thread rules: belongs to the operation that made it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "bridge/CallbackDelivery.h"
#include "json/JsonValue.h"
#include "modules/files/EntryPath.h"
#include "modules/files/RootDirectory.h"

namespace tavero::modules::files {

class FileSystemRequest {
 public:
  FileSystemRequest(bridge::CallbackDelivery& callbacks, int success, int failure, RootDirectory root)
      : callbacks_(&callbacks), success_(success), failure_(failure), root_(std::move(root)) {}

  const RootDirectory& root() const { return root_; }

  // The standardized form of `text` when it is absolute and something
  // exists there; nothing otherwise.
  std::optional<EntryPath> validPath(std::string_view text) const;

  // Answers the page's success callback (nothing: the empty text).
  void succeed(std::optional<json::Value> value) const;
  // Answers the page's failure callback with `message`, or with
  // "<message>: <the operating system's text for reason>".
  void fail(std::string_view message) const;
  void fail(std::string_view message, const std::error_code& reason) const;

 private:
  bridge::CallbackDelivery* callbacks_;
  int success_;
  int failure_;
  RootDirectory root_;
};

}  // namespace tavero::modules::files
