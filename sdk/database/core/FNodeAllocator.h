#pragma once
// The allocator of the persistent trees' nodes: a per-thread cache of freed blocks of one size in
// front of the global allocator. An insert or a remove makes a dozen or two nodes and the versions
// it replaces give as many back; the cache hands them round without a trip through malloc's bins.
//
// Any thread may free a block any thread allocated: a freed block joins the freeing thread's cache
// (at most kCachedBlocks of them; beyond that it goes back to the global allocator), and each
// thread returns its cache when it ends. Nothing is shared between threads, so nothing is locked.
#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define F_NODE_ALLOCATOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define F_NODE_ALLOCATOR_ASAN 1
#endif
#endif
#ifdef F_NODE_ALLOCATOR_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fdetail {

template <size_t Size, size_t Align>
class FBlockCache {
 public:
  static constexpr uint32_t kCachedBlocks = 512;

  static void* allocate() {
    if (!threadEnded()) {
      FBlockCache& cache = local();
      if (Block* block = cache.head_) {
        unpoison(block);
        cache.head_ = block->next;
        --cache.count_;
        return block;
      }
    }
    return ::operator new(Size, std::align_val_t{Align});
  }

  static void deallocate(void* p) {
    if (!threadEnded()) {
      FBlockCache& cache = local();
      if (cache.count_ < kCachedBlocks) {
        Block* block = static_cast<Block*>(p);
        block->next = cache.head_;
        poison(block);
        cache.head_ = block;
        ++cache.count_;
        return;
      }
    }
    ::operator delete(p, std::align_val_t{Align});
  }

 private:
  struct Block {
    Block* next;
  };
  static_assert(Size >= sizeof(Block), "a block holds the link of the cache");

  ~FBlockCache() {
    while (Block* block = head_) {
      unpoison(block);
      head_ = block->next;
      ::operator delete(block, std::align_val_t{Align});
    }
    threadEnded() = true;  // blocks freed later in the thread's end go straight back
  }

  static FBlockCache& local() {
    thread_local FBlockCache cache;
    return cache;
  }
  // Trivially destructible, so it may be read at any moment of the thread's end.
  static bool& threadEnded() {
    thread_local bool ended = false;
    return ended;
  }

  // A cached block is not the caller's: the address sanitizer reports any use of it.
  static void poison(Block* block) {
#ifdef F_NODE_ALLOCATOR_ASAN
    ASAN_POISON_MEMORY_REGION(reinterpret_cast<char*>(block) + sizeof(Block), Size - sizeof(Block));
#else
    (void)block;
#endif
  }
  static void unpoison(Block* block) {
#ifdef F_NODE_ALLOCATOR_ASAN
    ASAN_UNPOISON_MEMORY_REGION(reinterpret_cast<char*>(block) + sizeof(Block), Size - sizeof(Block));
#else
    (void)block;
#endif
  }

  Block* head_ = nullptr;
  uint32_t count_ = 0;
};

}  // namespace fdetail

// A standard allocator over the block caches, for std::allocate_shared. Single objects come from
// the cache of their size; arrays (never asked for by allocate_shared) from the global allocator.
template <typename T>
struct FNodeAllocator {
  using value_type = T;

  FNodeAllocator() noexcept = default;
  template <typename U>
  FNodeAllocator(const FNodeAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n == 1) return static_cast<T*>(fdetail::FBlockCache<sizeof(T), alignof(T)>::allocate());
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{alignof(T)}));
  }
  void deallocate(T* p, size_t n) noexcept {
    if (n == 1) {
      fdetail::FBlockCache<sizeof(T), alignof(T)>::deallocate(p);
    } else {
      ::operator delete(p, std::align_val_t{alignof(T)});
    }
  }

  template <typename U>
  bool operator==(const FNodeAllocator<U>&) const noexcept {
    return true;
  }
};
