#include "support/FailingWrites.h"

#include <sqlite3.h>

#include <cstring>

namespace tavero::testing {

FailingWrites::FailingWrites() { previous_ = base::useFileWriteCalls(this); }

FailingWrites::~FailingWrites() { base::useFileWriteCalls(previous_); }

void FailingWrites::failOperation(int n, int error) {
  std::lock_guard lock(mutex_);
  failAt_ = n;
  error_ = error;
  count_ = 0;
  failed_ = false;
}

int FailingWrites::operations() const {
  std::lock_guard lock(mutex_);
  return count_;
}

bool FailingWrites::failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

int FailingWrites::nextOperation() {
  std::lock_guard lock(mutex_);
  if (++count_ != failAt_) return 0;
  failed_ = true;
  return error_;
}

ssize_t FailingWrites::write(int fd, const void* data, size_t size) {
  if (int error = nextOperation()) {
    errno = error;
    return -1;
  }
  return FileWriteCalls::write(fd, data, size);
}

int FailingWrites::fsync(int fd) {
  if (int error = nextOperation()) {
    errno = error;
    return -1;
  }
  return FileWriteCalls::fsync(fd);
}

int FailingWrites::rename(const char* from, const char* to) {
  if (int error = nextOperation()) {
    errno = error;
    return -1;
  }
  return FileWriteCalls::rename(from, to);
}

namespace {

// The VFS around the default one: each file it opens holds the default
// VFS's file right behind it and forwards every call, counting the writes.
FailingWrites* counting = nullptr;
sqlite3_vfs* underlying = nullptr;
sqlite3_vfs failingVfs;

struct File {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* realOf(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real; }
const sqlite3_io_methods& real(sqlite3_file* file) { return *realOf(file)->pMethods; }

int failure(int error, int ioError) { return error == ENOSPC ? SQLITE_FULL : ioError; }

int close(sqlite3_file* f) { return real(f).xClose(realOf(f)); }
int read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return real(f).xRead(realOf(f), buffer, amount, offset);
}
int write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (int error = counting->nextOperation()) return failure(error, SQLITE_IOERR_WRITE);
  return real(f).xWrite(realOf(f), buffer, amount, offset);
}
int truncate(sqlite3_file* f, sqlite3_int64 size) {
  if (int error = counting->nextOperation()) return failure(error, SQLITE_IOERR_TRUNCATE);
  return real(f).xTruncate(realOf(f), size);
}
int sync(sqlite3_file* f, int flags) {
  if (int error = counting->nextOperation()) return failure(error, SQLITE_IOERR_FSYNC);
  return real(f).xSync(realOf(f), flags);
}
int fileSize(sqlite3_file* f, sqlite3_int64* size) { return real(f).xFileSize(realOf(f), size); }
int lock(sqlite3_file* f, int level) { return real(f).xLock(realOf(f), level); }
int unlock(sqlite3_file* f, int level) { return real(f).xUnlock(realOf(f), level); }
int checkReservedLock(sqlite3_file* f, int* out) { return real(f).xCheckReservedLock(realOf(f), out); }
int fileControl(sqlite3_file* f, int op, void* arg) { return real(f).xFileControl(realOf(f), op, arg); }
int sectorSize(sqlite3_file* f) { return real(f).xSectorSize(realOf(f)); }
int deviceCharacteristics(sqlite3_file* f) { return real(f).xDeviceCharacteristics(realOf(f)); }
int shmMap(sqlite3_file* f, int region, int size, int extend, void volatile** memory) {
  return real(f).xShmMap(realOf(f), region, size, extend, memory);
}
int shmLock(sqlite3_file* f, int offset, int n, int flags) { return real(f).xShmLock(realOf(f), offset, n, flags); }
void shmBarrier(sqlite3_file* f) { real(f).xShmBarrier(realOf(f)); }
int shmUnmap(sqlite3_file* f, int deleteFlag) { return real(f).xShmUnmap(realOf(f), deleteFlag); }
int fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
  return real(f).xFetch(realOf(f), offset, amount, out);
}
int unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) { return real(f).xUnfetch(realOf(f), offset, page); }

const sqlite3_io_methods methods = {3,         &close,   &read,      &write,  &truncate,   &sync,
                                    &fileSize, &lock,    &unlock,    &checkReservedLock,   &fileControl,
                                    &sectorSize, &deviceCharacteristics, &shmMap, &shmLock, &shmBarrier,
                                    &shmUnmap, &fetch,   &unfetch};

int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  auto* wrapped = reinterpret_cast<File*>(file);
  wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
  std::memset(wrapped->real, 0, static_cast<size_t>(underlying->szOsFile));
  int rc = underlying->xOpen(underlying, name, wrapped->real, flags, outFlags);
  // SQLite closes a file whose methods are set, even when opening failed.
  file->pMethods = wrapped->real->pMethods ? &methods : nullptr;
  return rc;
}
int remove(sqlite3_vfs*, const char* name, int syncDir) { return underlying->xDelete(underlying, name, syncDir); }
int access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return underlying->xAccess(underlying, name, flags, out);
}
int fullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return underlying->xFullPathname(underlying, name, size, out);
}
int randomness(sqlite3_vfs*, int size, char* out) { return underlying->xRandomness(underlying, size, out); }
int sleep(sqlite3_vfs*, int microseconds) { return underlying->xSleep(underlying, microseconds); }
int currentTime(sqlite3_vfs*, double* now) { return underlying->xCurrentTime(underlying, now); }
int lastError(sqlite3_vfs*, int size, char* out) { return underlying->xGetLastError(underlying, size, out); }
int currentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) { return underlying->xCurrentTimeInt64(underlying, now); }

}  // namespace

FailingSQLiteFiles::FailingSQLiteFiles(FailingWrites& writes) {
  counting = &writes;
  underlying = sqlite3_vfs_find(nullptr);
  failingVfs = sqlite3_vfs{};
  failingVfs.iVersion = 2;
  failingVfs.szOsFile = static_cast<int>(sizeof(File)) + underlying->szOsFile;
  failingVfs.mxPathname = underlying->mxPathname;
  failingVfs.zName = "tavero-failing-writes";
  failingVfs.xOpen = &open;
  failingVfs.xDelete = &remove;
  failingVfs.xAccess = &access;
  failingVfs.xFullPathname = &fullPathname;
  failingVfs.xRandomness = &randomness;
  failingVfs.xSleep = &sleep;
  failingVfs.xCurrentTime = &currentTime;
  failingVfs.xGetLastError = &lastError;
  failingVfs.xCurrentTimeInt64 = &currentTimeInt64;
  sqlite3_vfs_register(&failingVfs, 1);
}

FailingSQLiteFiles::~FailingSQLiteFiles() {
  sqlite3_vfs_unregister(&failingVfs);
  sqlite3_vfs_register(underlying, 1);  // the default again
  counting = nullptr;
}

}  // namespace tavero::testing
