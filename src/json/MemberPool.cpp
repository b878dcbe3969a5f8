#include "json/MemberPool.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace tavero::json {

namespace {

// The first block holds the pool and room for a small message's objects;
// it stays within the sizes the C library keeps ready per thread. Later
// chunks double up to kLargestChunk, which stays below the size at which
// the C library maps memory for each block, so reading a large document does
// not map and unmap (and page-fault) its chunks every time.
constexpr size_t kFirstBlock = 1008;
constexpr size_t kSecondChunk = 4 * 1024;
constexpr size_t kLargestChunk = 64 * 1024;

}  // namespace

struct MemberPool::Chunk {
  Chunk* previous;
};

MemberPool* MemberPool::create() {
  static_assert(sizeof(MemberPool) % 8 == 0);
  char* block = static_cast<char*>(std::malloc(kFirstBlock));
  if (block == nullptr) throw std::bad_alloc();
  auto* pool = new (block) MemberPool(block + sizeof(MemberPool), block + kFirstBlock, kFirstBlock);
  pool->nextChunkSize_ = kSecondChunk;
  return pool;
}

void MemberPool::release(size_t count) noexcept {
  if (references_.fetch_sub(count, std::memory_order_acq_rel) != count) return;
  for (Chunk* c = chunks_; c != nullptr;) {
    Chunk* previous = c->previous;
    std::free(c);
    c = previous;
  }
  this->~MemberPool();
  std::free(this);
}

void* MemberPool::allocateInNewChunk(size_t bytes) {
  constexpr size_t kHeader = (sizeof(Chunk) + 7) & ~size_t{7};
  // A request larger than a chunk's worth gets a chunk of its own size; the
  // rest of the current chunk is kept for what comes next.
  const bool alone = bytes > nextChunkSize_ / 2;
  const size_t size = alone ? kHeader + bytes : nextChunkSize_;
  auto* chunk = static_cast<Chunk*>(std::malloc(size));
  if (chunk == nullptr) throw std::bad_alloc();
  chunk->previous = chunks_;
  chunks_ = chunk;
  reserved_ += size;
  char* p = reinterpret_cast<char*>(chunk) + kHeader;
  if (!alone) {
    next_ = p + bytes;
    end_ = reinterpret_cast<char*>(chunk) + size;
    nextChunkSize_ = std::min(nextChunkSize_ * 2, kLargestChunk);
  }
  return p;
}

}  // namespace tavero::json
