#include "modules/TQFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/PrivateFiles.h"
#include "json/Base64.h"
#include "json/Utf8.h"
#include "log/Log.h"
#include "modules/OptionCheck.h"
#include "modules/files/EntryTree.h"
#include "modules/files/FileHandle.h"
#include "modules/OriginIdentifier.h"

namespace tavero::modules {

using bridge::Invocation;
using files::EntryKind;
using files::EntryPath;
using files::FileHandle;
using files::FileSystemRequest;
using files::errorFromErrno;

namespace {

// Positions the page passes are compared as unsigned values: a negative
// one counts as very large, so it stands past the end.
bool isBelow(int64_t position, uint64_t limit) { return static_cast<uint64_t>(position) < limit; }

// How a read's or write's data travels: as the text itself (UTF-8), or as
// base64 of any bytes, which a page asks for to read and write binary data.
enum class ContentEncoding { text, base64 };

// The call's "encoding"; nothing (and a logged refusal) for an unknown one.
std::optional<ContentEncoding> contentEncoding(const Invocation& call, std::string_view operation) {
  const std::string_view encoding = call.text("encoding");
  if (encoding.empty()) return ContentEncoding::text;
  if (encoding == "base64") return ContentEncoding::base64;
  OptionCheck(call, "files").refuse(std::string(operation) + ": encoding must be \"base64\" or absent");
  return std::nullopt;
}

// The page's message for a write or truncate the system refused: a full
// disk or an exhausted quota is said as the system says it (the page
// client reads that as QUOTA_EXCEEDED_ERR), anything else as "not writable".
std::string writeFailure(std::string_view action, const std::error_code& error) {
  if (error == std::errc::no_space_on_device || error == std::error_condition(EDQUOT, std::generic_category()))
    return "Could not " + std::string(action) + ": " + error.message();
  return "Could not " + std::string(action) + ": not writable";
}

files::Result<bool> isEmptyFolder(const files::RootDirectory& root, const EntryPath& folder) {
  auto fd = root.open(folder, O_RDONLY | O_DIRECTORY);
  if (!fd) return fd.error();
  auto children = files::listFolder(fd->get());
  if (!children) return children.error();
  return children->empty();
}

}  // namespace

TQFileSystem::TQFileSystem(bridge::CallbackDelivery& callbacks, std::filesystem::path fileSystemsDirectory,
                           files::RootDirectory::Resolution resolution)
    : callbacks_(callbacks),
      fileSystemsDirectory_(std::move(fileSystemsDirectory)),
      resolution_(resolution),
      copies_(fileSystemsDirectory_ / ".copying") {
  addOperation("requestFileSystem", [this](Invocation& call) { requestFileSystem(call); });
  addOperation("getParent", [this](Invocation& call) { getParent(call); });
  addOperation("moveTo", [this](Invocation& call) { moveTo(call); });
  addOperation("remove", [this](Invocation& call) { remove(call); });
  addOperation("readEntries", [this](Invocation& call) { readEntries(call); });
  addOperation("getEntry", [this](Invocation& call) { getEntry(call); });
  addOperation("seek", [this](Invocation& call) { seek(call); });
  addOperation("read", [this](Invocation& call) { read(call); });
  addOperation("write", [this](Invocation& call) { write(call); });
  addOperation("truncate", [this](Invocation& call) { truncate(call); });
  addBytesOperation("read", [this](Invocation& call, std::string_view) { return readBytes(call); });
  addBytesOperation("write", [this](Invocation& call, std::string_view bytes) { return writeBytes(call, bytes); });
}

std::optional<std::filesystem::path> TQFileSystem::rootOf(std::string_view fileSystemId) {
  std::lock_guard lock(fileSystemsMutex_);
  auto it = fileSystemsMap_.find(fileSystemId);
  if (it == fileSystemsMap_.end()) return std::nullopt;
  return it->second.root;
}

std::optional<std::filesystem::path> TQFileSystem::rootOf(std::string_view fileSystemId, std::string_view origin) {
  std::lock_guard lock(fileSystemsMutex_);
  auto it = fileSystemsMap_.find(fileSystemId);
  if (it == fileSystemsMap_.end() || it->second.origin != origin) return std::nullopt;
  return it->second.root;
}

std::optional<files::RootDirectory> TQFileSystem::rootFor(const Invocation& call) {
  auto rootPath = rootOf(call.text("fileSystemId"), originIdentifier(call.text("__source")));
  if (!rootPath) {
    log::debug("files: a request names a file system id this run did not hand out to its origin");
    return std::nullopt;
  }
  return files::RootDirectory(*rootPath, resolution_);
}

std::optional<FileSystemRequest> TQFileSystem::beginRequest(const Invocation& call) {
  auto root = rootFor(call);
  if (!root) return std::nullopt;
  return FileSystemRequest(callbacks_, call.integer("success"), call.integer("failure"), std::move(*root));
}

void TQFileSystem::requestFileSystem(Invocation& call) {
  const std::string origin = originIdentifier(call.text("__source"));
  const std::filesystem::path rootPath = fileSystemsDirectory_ / origin;
  std::error_code error = base::createPrivateFolders(rootPath);
  std::call_once(leftoversRemoved_, [this] { copies_.removeLeftovers(); });
  if (!error) {
    // Also refuses a root that is not a real folder (a link put there).
    files::RootDirectory root(rootPath, resolution_);
    if (!root.isOpen()) error = root.openError();
  }
  if (error) {
    log::warning("files: no file system at " + rootPath.string() + ": " + error.message());
    callbacks_.invokeCallback(call.integer("failure"), json::Value("Unable to get file system: " + error.message()));
    return;
  }
  std::string id;
  {
    std::lock_guard lock(fileSystemsMutex_);
    id = std::to_string(++lastFileSystemUid_);
    fileSystemsMap_[id] = {rootPath, origin};
  }
  callbacks_.invokeCallback(call.integer("success"), json::Value(id));
}

void TQFileSystem::getParent(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto path = request->validPath(call.text("path"));
  if (!path) return request->fail("Could not get parent: invalid state");
  request->succeed(json::Value(path->parent().text()));
}

void TQFileSystem::moveTo(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  const std::string_view pathText = call.text("path");
  std::string name(call.text("newName"));
  if (name.empty()) name = files::lastPathComponent(pathText);
  auto source = request->validPath(pathText);
  auto parent = request->validPath(call.text("parentPath"));
  if (!source || !parent) return request->fail("Could not move entry: invalid state");
  if (!files::isValidName(name)) return request->fail("Could not move entry: invalid name");
  const EntryPath target = parent->child(name);
  if (!target.isWithinBounds()) return request->fail("Could not move entry: invalid name");
  // Into itself would make a folder its own ancestor (a copy would never end).
  if (target.isInside(*source)) return request->fail("Could not move entry", errorFromErrno(EINVAL));

  const files::RootDirectory& root = request->root();
  const EntryKind sourceKind = root.kindOf(*source);
  const EntryKind targetKind = root.kindOf(target);
  const bool sourceIsFolder = sourceKind == EntryKind::folder;
  const bool targetIsFolder = targetKind == EntryKind::folder;
  // An entry of the same kind is replaced: a file by a file, an empty
  // folder by a folder. It goes in the same step as the new one arrives, so
  // a failed move or copy leaves it as it was.
  const bool replace = target != *source && targetKind != EntryKind::none && sourceIsFolder == targetIsFolder &&
                       (!targetIsFolder || isEmptyFolder(root, target).value_or(false));

  std::error_code error;
  if (call.flag("copy")) {
    error = copyEntry(root, *source, target, replace);
  } else {
    auto sourceParent = root.openParent(*source);
    auto targetParent = root.openParent(target);
    if (!sourceParent) error = sourceParent.error();
    else if (!targetParent) error = targetParent.error();
    else error = files::moveEntry(sourceParent->get(), source->name(), targetParent->get(), name, replace);
  }
  if (error) return request->fail("Could not move entry", error);
  request->succeed(json::Value(target.text()));
}

std::error_code TQFileSystem::copyEntry(const files::RootDirectory& root, const EntryPath& source,
                                        const EntryPath& target, bool replace) {
  auto sourceParent = root.openParent(source);
  if (!sourceParent) return sourceParent.error();
  auto targetParent = root.openParent(target);
  if (!targetParent) return targetParent.error();
  if (!replace && root.exists(target)) return errorFromErrno(EEXIST);
  return copies_.copy(sourceParent->get(), source.name(), targetParent->get(), target.name(), replace);
}

void TQFileSystem::remove(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto path = request->validPath(call.text("path"));
  if (!path) return request->fail("Could not remove entry: invalid state");
  if (path->isRoot()) return request->fail("Could not remove entry: is root directory");

  const files::RootDirectory& root = request->root();
  auto parent = root.openParent(*path);
  if (!parent) return request->fail("Could not remove entry", parent.error());
  std::error_code error;
  if (root.kindOf(*path) == EntryKind::folder && !call.flag("recursively")) {
    auto empty = isEmptyFolder(root, *path);
    if (!empty) return request->fail("Could not remove entry", empty.error());
    if (!*empty) return request->fail("Could not remove entry: is not empty");
    // Only the empty folder: a child that arrived meanwhile makes this fail.
    if (::unlinkat(parent->get(), path->name().c_str(), AT_REMOVEDIR) != 0) error = errorFromErrno(errno);
  } else {
    error = files::removeEntry(parent->get(), path->name());
  }
  if (error) return request->fail("Could not remove entry", error);
  request->succeed(std::nullopt);
}

void TQFileSystem::readEntries(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto path = request->validPath(call.text("path"));
  if (!path) return request->fail("Could not read entries: invalid state");
  auto folder = request->root().open(*path, O_RDONLY | O_DIRECTORY);
  if (!folder) return request->fail("Could not read entries", folder.error());
  auto children = files::listFolder(folder->get());
  if (!children) return request->fail("Could not read entries", children.error());

  json::Array entries;
  for (const files::FolderChild& child : *children) {
    // A page could neither read such a name nor send it back.
    if (!json::isValidUTF8(child.name)) {
      log::warning("files: left out an entry whose name is not UTF-8 in " + path->text());
      continue;
    }
    json::Object entry;
    entry.append("directory", child.kind == EntryKind::folder);
    entry.append("path", path->child(child.name).text());
    entries.push_back(std::move(entry));
  }
  request->succeed(json::Value(std::move(entries)));
}

void TQFileSystem::getEntry(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto base = request->validPath(call.text("path"));
  if (!base) return request->fail("Could not get entry: invalid state");
  const std::string_view newPath = call.text("newPath");
  // Bounded before it is read: a page may send megabytes of "a/../".
  if (newPath.size() > files::kMaxPathBytes) return request->fail("Could not get entry: invalid name");
  const EntryPath target = files::isAbsolutePath(newPath)
                               ? EntryPath::standardized(newPath)
                               : EntryPath::standardized(base->text() + "/" + std::string(newPath));
  if (!target.isWithinBounds()) return request->fail("Could not get entry: invalid name");
  const bool directory = call.flag("directory");
  const bool create = call.flag("create");
  const bool exclusive = call.flag("exclusive");
  const files::RootDirectory& root = request->root();

  // A second look when the entry appeared between looking and creating.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const EntryKind kind = root.kindOf(target);
    if (kind != EntryKind::none) {
      if ((kind == EntryKind::folder) != directory) return request->fail("Could not get entry: type mismatch");
      if (create && exclusive) return request->fail("Could not get entry: path exists");
      return request->succeed(json::Value(target.text()));
    }
    if (!create) return request->fail("Could not get entry: not found");

    auto parent = root.openParent(target);
    if (!parent) return request->fail("Could not get entry", parent.error());
    const char* name = target.name().c_str();
    bool made = false;
    if (directory) {
      made = ::mkdirat(parent->get(), name, 0700) == 0;
    } else {
      files::UniqueFd file(::openat(parent->get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      made = file.valid();
    }
    if (made) return request->succeed(json::Value(target.text()));
    if (errno != EEXIST || attempt > 0) return request->fail("Could not get entry", errorFromErrno(errno));
  }
}

void TQFileSystem::seek(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto path = request->validPath(call.text("path"));
  if (!path) return request->fail("Could not seek: invalid state");
  auto handle = FileHandle::open(request->root(), *path, FileHandle::Access::reading, fileLocks_);
  auto length = handle ? handle->length() : files::Result<uint64_t>(handle.error());
  if (!length) return request->fail("Could not seek: not readable");

  const int64_t offset = call.longLong("offset");
  const int64_t end = static_cast<int64_t>(*length);
  const int64_t position = offset < 0 ? std::max<int64_t>(end + offset, 0) : std::min(offset, end);
  request->succeed(json::Value(position));
}

// What a read or write did: the offset after its bytes (and a read's
// bytes), or the page's message for why it failed.
struct TQFileSystem::ContentOutcome {
  std::string failure;  // empty on success
  int64_t end = 0;
  std::string bytes;
  static ContentOutcome failed(std::string message) { return {std::move(message), 0, {}}; }
};

TQFileSystem::ContentOutcome TQFileSystem::readContent(const files::RootDirectory& root, const Invocation& call) {
  auto path = EntryPath::fromAbsolute(call.text("path"));
  if (!path || !root.exists(*path)) return ContentOutcome::failed("Could not read: invalid state");
  auto handle = FileHandle::open(root, *path, FileHandle::Access::reading, fileLocks_);
  auto length = handle ? handle->length() : files::Result<uint64_t>(handle.error());
  if (!length) return ContentOutcome::failed("Could not read: not readable");

  const int64_t offset = call.longLong("offset");
  const int64_t wanted = call.longLong("length");
  const uint64_t position = isBelow(offset, *length) ? static_cast<uint64_t>(offset) : *length;
  // 0 or negative reads to the end; otherwise the low 32 bits count.
  const uint64_t count = wanted <= 0 ? UINT64_MAX : static_cast<uint32_t>(static_cast<uint64_t>(wanted));
  auto bytes = handle->readAt(position, count);
  if (!bytes) {
    log::warning("files: a read of " + path->text() + " failed: " + bytes.error().message());
    return ContentOutcome::failed("Could not read: not readable");
  }
  const auto end = static_cast<int64_t>(position + bytes->size());
  return {{}, end, std::move(*bytes)};
}

TQFileSystem::ContentOutcome TQFileSystem::writeContent(const files::RootDirectory& root, const Invocation& call,
                                                        std::string_view data) {
  auto path = EntryPath::fromAbsolute(call.text("path"));
  if (!path || !root.exists(*path)) return ContentOutcome::failed("Could not write: invalid state");
  auto handle = FileHandle::open(root, *path, FileHandle::Access::writing, fileLocks_);
  auto length = handle ? handle->length() : files::Result<uint64_t>(handle.error());
  if (!length) return ContentOutcome::failed(writeFailure("write", length.error()));

  const int64_t offset = call.longLong("offset");
  const uint64_t position = isBelow(offset, *length) ? static_cast<uint64_t>(offset) : *length;
  if (auto error = handle->writeAt(position, data)) {
    // The bytes written before the failure stay: a write is not undone.
    log::warning("files: a write to " + path->text() + " failed: " + error.message());
    return ContentOutcome::failed(writeFailure("write", error));
  }
  return {{}, static_cast<int64_t>(position + data.size()), {}};
}

void TQFileSystem::read(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto encoding = contentEncoding(call, "read");
  if (!encoding) return request->fail(std::string(OptionCheck::kRefusedPrefix) + "encoding must be \"base64\" or absent");
  ContentOutcome outcome = readContent(request->root(), call);
  if (!outcome.failure.empty()) return request->fail(outcome.failure);

  json::Object answer;
  answer.append("offset", outcome.end);
  std::string& bytes = outcome.bytes;
  if (*encoding == ContentEncoding::base64) {
    answer.append("data", json::ql_base64_encode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), false));
  } else {
    // Bytes that do not form whole UTF-8 characters (a stretch that ends
    // inside one, say) give the empty text; the offset still moves past them.
    answer.append("data", json::isValidUTF8(bytes) ? std::move(bytes) : std::string());
  }
  request->succeed(json::Value(std::move(answer)));
}

void TQFileSystem::write(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto encoding = contentEncoding(call, "write");
  if (!encoding) return request->fail(std::string(OptionCheck::kRefusedPrefix) + "encoding must be \"base64\" or absent");
  std::optional<std::string> decoded;
  if (*encoding == ContentEncoding::base64) {
    decoded = json::base64Decode(call.text("data"));
    if (!decoded) {
      OptionCheck(call, "files").refuse("data is not base64");
      return request->fail(std::string(OptionCheck::kRefusedPrefix) + "data is not base64");
    }
  }
  ContentOutcome outcome = writeContent(request->root(), call, decoded ? std::string_view(*decoded) : call.text("data"));
  if (!outcome.failure.empty()) return request->fail(outcome.failure);
  request->succeed(json::Value(outcome.end));
}

// The bytes road's answers: {"offset": <after the bytes>} with the bytes
// read, or {"error": <the message a failure callback would get>}. A file
// system id not handed out to the caller's origin is answered as an entry
// that is not there, whichever it is.
bridge::TQW3CAction::BytesAnswer TQFileSystem::readBytes(Invocation& call) {
  // Bounded before anything is read: the answer must fit the road's frame.
  const int64_t wanted = call.longLong("length");
  if (wanted <= 0 || static_cast<uint64_t>(wanted) > kMaxBytesPiece) {
    const std::string why = "a bytes read takes a length from 1 to " + std::to_string(kMaxBytesPiece) + " bytes";
    OptionCheck(call, "files").refuse(why);
    return contentAnswer(ContentOutcome::failed(std::string(OptionCheck::kRefusedPrefix) + why));
  }
  auto root = rootFor(call);
  ContentOutcome outcome = root ? readContent(*root, call) : ContentOutcome::failed("Could not read: invalid state");
  return contentAnswer(std::move(outcome));
}

bridge::TQW3CAction::BytesAnswer TQFileSystem::writeBytes(Invocation& call, std::string_view bytes) {
  auto root = rootFor(call);
  ContentOutcome outcome = root ? writeContent(*root, call, bytes) : ContentOutcome::failed("Could not write: invalid state");
  return contentAnswer(std::move(outcome));
}

bridge::TQW3CAction::BytesAnswer TQFileSystem::contentAnswer(ContentOutcome outcome) {
  json::Object answer;
  if (!outcome.failure.empty()) {
    answer.append("error", std::move(outcome.failure));
    return {json::Value(std::move(answer)), {}};
  }
  answer.append("offset", outcome.end);
  return {json::Value(std::move(answer)), std::move(outcome.bytes)};
}

void TQFileSystem::truncate(Invocation& call) {
  auto request = beginRequest(call);
  if (!request) return;
  auto path = request->validPath(call.text("path"));
  if (!path) return request->fail("Could not truncate: invalid state");
  auto handle = FileHandle::open(request->root(), *path, FileHandle::Access::writing, fileLocks_);
  if (!handle) return request->fail(writeFailure("truncate", handle.error()));

  const int64_t offset = call.longLong("offset");
  const int64_t size = call.longLong("size");
  if (size < 0) {
    OptionCheck(call, "files").refuse("size must be 0 or more, not " + std::to_string(size));
    return request->fail(std::string(OptionCheck::kRefusedPrefix) + "size must be 0 or more");
  }
  if (auto error = handle->truncate(size)) {
    log::warning("files: truncating " + path->text() + " failed: " + error.message());
    return request->fail(writeFailure("truncate", error));
  }
  // The writer's position never ends beyond the new end of the file.
  request->succeed(json::Value(isBelow(offset, static_cast<uint64_t>(size)) ? offset : size));
}

}  // namespace tavero::modules
