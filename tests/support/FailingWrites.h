// Makes one chosen file write fail, as a disk that fills up or fails would,
// in the manner of LevelDB's fault-injection environment: operations are
// counted from the moment a failure is chosen, and the n-th one fails.
//
// An operation is one write, flush (fsync) or rename of writeFileAtomically,
// for as long as a FailingWrites lives; with a FailingSQLiteFiles besides,
// also one write, sync or truncation of a file by SQLite (the system's
// library, through its default VFS).
//
// Thread rules: any thread; one FailingWrites at a time in a process.
#pragma once

#include <cerrno>
#include <mutex>

#include "base/AtomicFile.h"

namespace tavero::testing {

class FailingWrites : public base::FileWriteCalls {
 public:
  FailingWrites();            // writeFileAtomically goes through this from now on
  ~FailingWrites() override;  // and through what it used before again

  FailingWrites(const FailingWrites&) = delete;
  FailingWrites& operator=(const FailingWrites&) = delete;

  // Starts counting anew: the n-th operation from now (1: the next) fails
  // with `error`, the others succeed. With 0, none fails.
  void failOperation(int n, int error = ENOSPC);
  // Operations counted since failOperation, and whether the chosen one came.
  int operations() const;
  bool failed() const;

  // Counts one operation; the error it must fail with, or 0.
  int nextOperation();

  ssize_t write(int fd, const void* data, size_t size) override;
  int fsync(int fd) override;
  int rename(const char* from, const char* to) override;

 private:
  mutable std::mutex mutex_;  // guards the fields below
  int failAt_ = 0;
  int error_ = ENOSPC;
  int count_ = 0;
  bool failed_ = false;
  base::FileWriteCalls* previous_ = nullptr;
};

// SQLite's file writes counted (and failed) by `writes` while this lives: a
// VFS around the default one is made the default.
class FailingSQLiteFiles {
 public:
  explicit FailingSQLiteFiles(FailingWrites& writes);
  ~FailingSQLiteFiles();
  FailingSQLiteFiles(const FailingSQLiteFiles&) = delete;
  FailingSQLiteFiles& operator=(const FailingSQLiteFiles&) = delete;
};

}  // namespace tavero::testing
