// The file system module: sandboxed file systems for pages, in the manner of
// the File API. Each page origin has one folder, its root, in
// "<Application Support>/file_systems/<origin identifier>"; pages name
// entries by "/"-separated paths in which "/" is that root, and never see a
// real path.
//
// requestFileSystem hands out a file system id (a new one on every call,
// for this run only, and only for the origin that asked: another origin
// presenting it is answered as for an id never handed out); the entry
// operations (getParent, moveTo, remove,
// readEntries, getEntry) and the content operations (seek, read, write,
// truncate) name it with every request. The module keeps no position and
// no open file between requests: the page passes the position as `offset`
// and each answer tells it the next one. Offsets, lengths and sizes count
// bytes; contents travel as UTF-8 text or base64, or as raw bytes through
// the bytes operations read and write, which answer at once. Every other
// answer goes to the page's success or failure callback; an id this run
// never handed out gets none.
//
// Nothing a page sends reaches outside its root: paths are standardized
// before use and every entry is opened beneath the root without following
// symbolic links (files::RootDirectory).
//
// Thread rules: operations may run on several threads at once. The id map
// and counter are guarded; requests on one file are kept apart by
// files::FileLocks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "modules/files/CopyStaging.h"
#include "modules/files/FileLocks.h"
#include "modules/files/FileSystemRequest.h"
#include "modules/files/RootDirectory.h"

namespace tavero::modules {

class TQFileSystem : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQFileSystem";

  // `fileSystemsDirectory` holds one root folder per origin; it is made
  // when a page first asks for a file system.
  TQFileSystem(bridge::CallbackDelivery& callbacks, std::filesystem::path fileSystemsDirectory,
               files::RootDirectory::Resolution resolution = files::RootDirectory::Resolution::automatic);

  void requestFileSystem(bridge::Invocation& call);
  void getParent(bridge::Invocation& call);
  void moveTo(bridge::Invocation& call);
  void remove(bridge::Invocation& call);
  void readEntries(bridge::Invocation& call);
  void getEntry(bridge::Invocation& call);
  void seek(bridge::Invocation& call);
  void read(bridge::Invocation& call);
  void write(bridge::Invocation& call);
  void truncate(bridge::Invocation& call);
  // The same reads and writes as bytes operations: the content travels
  // beside the arguments as raw bytes (any bytes; no "encoding"), and the
  // answer comes at once instead of through callbacks.
  // A bytes read names its length, of at most kMaxBytesPiece bytes (the
  // most one frame of the native road carries); others are refused.
  static constexpr uint64_t kMaxBytesPiece = 16 * 1024 * 1024;
  BytesAnswer readBytes(bridge::Invocation& call);
  BytesAnswer writeBytes(bridge::Invocation& call, std::string_view bytes);

  const std::filesystem::path& fileSystemsDirectoryPath() const { return fileSystemsDirectory_; }
  // The root folder of file system `fileSystemId`, if this run handed it out.
  std::optional<std::filesystem::path> rootOf(std::string_view fileSystemId);
  // The same, only when it was handed out to `origin` (an origin identifier).
  std::optional<std::filesystem::path> rootOf(std::string_view fileSystemId, std::string_view origin);

 private:
  // The request's callbacks and opened root; nothing (and no answer at all)
  // when its file system id was not handed out in this run.
  std::optional<files::FileSystemRequest> beginRequest(const bridge::Invocation& call);
  // The opened root of the call's file system; nothing when its id was not
  // handed out to the call's origin in this run.
  std::optional<files::RootDirectory> rootFor(const bridge::Invocation& call);
  struct ContentOutcome;
  ContentOutcome readContent(const files::RootDirectory& root, const bridge::Invocation& call);
  ContentOutcome writeContent(const files::RootDirectory& root, const bridge::Invocation& call, std::string_view data);
  static BytesAnswer contentAnswer(ContentOutcome outcome);
  std::error_code copyEntry(const files::RootDirectory& root, const files::EntryPath& source,
                            const files::EntryPath& target, bool replace);

  bridge::CallbackDelivery& callbacks_;
  const std::filesystem::path fileSystemsDirectory_;
  const files::RootDirectory::Resolution resolution_;
  files::FileLocks fileLocks_;
  files::CopyStaging copies_;
  std::once_flag leftoversRemoved_;

  std::mutex fileSystemsMutex_;  // guards the map and the counter below
  struct HandedOut {
    std::filesystem::path root;
    std::string origin;  // the origin identifier that asked for it
  };
  std::map<std::string, HandedOut, std::less<>> fileSystemsMap_;  // by id text
  int64_t lastFileSystemUid_ = 0;
};

}  // namespace tavero::modules
