// Memory for the members of the objects of one read document. The reader
// bump-allocates each object's members from chunks of the pool instead of
// one heap block per object, and the chunks are freed together when the last
// object that uses them is gone, instead of one by one.
//
// Each object whose members live here holds a reference, so an object
// moved out of its document (or a document's pieces outliving its root) keeps
// the memory alive. References are counted atomically: pieces of a document
// may be destroyed on different threads. Only the reader allocates, while it
// reads; an object that needs more room than it was read with moves its
// members to a heap block of its own (Object::reserve).
#pragma once

#include <atomic>
#include <cstddef>

namespace tavero::json {

class MemberPool {
 public:
  // A pool with one reference, owned by the caller.
  static MemberPool* create();

  MemberPool(const MemberPool&) = delete;
  MemberPool& operator=(const MemberPool&) = delete;

  void retain(size_t count = 1) noexcept { references_.fetch_add(count, std::memory_order_relaxed); }
  // Frees the pool and all its chunks with the last reference.
  void release(size_t count = 1) noexcept;

  // `bytes` of uninitialised memory aligned to 8 bytes. Not thread-safe:
  // only the reader that made the pool allocates from it.
  void* allocate(size_t bytes) {
    bytes = (bytes + 7) & ~size_t{7};
    if (static_cast<size_t>(end_ - next_) < bytes) return allocateInNewChunk(bytes);
    void* p = next_;
    next_ += bytes;
    return p;
  }

  // Bytes taken from the heap for the pool, its header included.
  size_t reservedBytes() const { return reserved_; }

 private:
  struct Chunk;
  MemberPool(char* next, char* end, size_t reserved) : next_(next), end_(end), reserved_(reserved) {}
  ~MemberPool() = default;
  void* allocateInNewChunk(size_t bytes);

  std::atomic<size_t> references_{1};
  char* next_;
  char* end_;
  Chunk* chunks_ = nullptr;  // beyond the first, which holds the pool itself
  size_t nextChunkSize_ = 0;
  size_t reserved_;
};

}  // namespace tavero::json
