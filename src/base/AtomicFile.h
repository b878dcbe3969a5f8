// Replacing a file so that a crash at any moment leaves either the old or
// the new content, whole: the text goes to a temporary file beside the
// target, is flushed to the disk, and is renamed over the target; the
// folder is flushed too, so the rename itself survives a power cut.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::base {

// The system calls writeFileAtomically makes to write, flush and rename,
// replaceable as a whole so that tests can make them fail as a full or
// failing disk would. The defaults call the system.
class FileWriteCalls {
 public:
  virtual ~FileWriteCalls() = default;
  virtual ssize_t write(int fd, const void* data, size_t size);
  virtual int fsync(int fd);
  virtual int rename(const char* from, const char* to);
};

// Makes every writeFileAtomically of the process use `calls` (the system's
// when null) until it is called again; returns the calls used until now.
// Meant for tests, while no write is in progress.
FileWriteCalls* useFileWriteCalls(FileWriteCalls* calls);

// Writes `content` to `file` as above (mode `mode`, by default only its user
// may read it; missing folders 0700). REQUIRES: one writer per file at a
// time (callers lock). Returns a message naming
// the step that failed; the old file is then untouched. Leftover temporary
// files of a crashed writer ("<name>.tmp-*") are removed on the next write.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, std::string_view content,
                                               mode_t mode = 0600);

// Removes from `folder` the temporary files ("<name>.tmp-<pid>") of writes
// above that a kill interrupted: those whose names start with `namePrefix`
// and whose process is gone. Meant for launch, for the folders this writer
// fills (otherwise a leftover stays until its file is written again).
// Returns how many were removed; each removal and failure is logged.
int removeInterruptedWrites(const std::filesystem::path& folder, std::string_view namePrefix = {});

}  // namespace tavero::base
