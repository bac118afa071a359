#pragma once
// The allocator of the persistent trees' nodes: a per-thread cache of freed blocks of one size in
// front of the global allocator. An insert or a remove makes a dozen or two nodes and the versions
// it replaces give as many back; the cache hands them round without a trip through malloc's bins.
//
// Any thread may free a block any thread allocated: a freed block joins the freeing thread's cache
// (at most kCachedBlocks of them), and each thread returns its cache when it ends. Where one thread
// makes the nodes and another drops the last versions that use them (a listener's snapshots are
// let go on the callback queue), the freeing thread's cache fills and the making thread's runs dry:
// blocks beyond a full cache are gathered in chains of kChainBlocks and left in a depot shared by
// all threads, from which a thread with an empty cache takes a whole chain. The depot is locked
// once per chain, never per block; it keeps at most kDepotChains chains, and what it cannot keep
// goes back to the global allocator.
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <mutex>
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
  static constexpr uint32_t kChainBlocks = 256;
  static constexpr uint32_t kDepotChains = 32;

  static void* allocate() {
    if (!threadEnded()) {
      FBlockCache& cache = local();
      if (!cache.head_) cache.takeChain();
      if (Block* block = cache.head_) {
        unpoison(block);
        cache.head_ = block->next;
        --cache.count_;
        // Inserts take their nodes in bursts, and a block freed on another thread (a listener's
        // snapshots are let go on the callback queue) is far away: fetching the next one now
        // lets its journey overlap the making of this node.
        if (cache.head_) __builtin_prefetch(cache.head_, 1);
        return block;
      }
    }
    return ::operator new(Size, std::align_val_t{Align});
  }

  static void deallocate(void* p) {
    if (!threadEnded()) {
      FBlockCache& cache = local();
      Block* block = static_cast<Block*>(p);
      if (cache.count_ < kCachedBlocks) {
        push(cache.head_, block);
        ++cache.count_;
        return;
      }
      push(cache.outgoing_, block);
      if (++cache.outgoingCount_ == kChainBlocks) cache.leaveChain();
      return;
    }
    ::operator delete(p, std::align_val_t{Align});
  }

 private:
  struct Block {
    Block* next;
  };
  static_assert(Size >= sizeof(Block), "a block holds the link of the cache");

  // The chains every thread of this block size shares; never destroyed, as threads may still free
  // blocks while the process ends.
  struct Depot {
    std::mutex mutex;
    Block* chains[kDepotChains] = {};
    uint32_t count = 0;
    // The count as last set under the lock: a thread whose cache is empty while the depot is too
    // (a thread that frees as much as it allocates) looks here rather than take the lock.
    std::atomic<uint32_t> available{0};
  };
  static Depot& depot() {
    static Depot* instance = new Depot();
    return *instance;
  }

  ~FBlockCache() {
    releaseAll(head_);
    releaseAll(outgoing_);
    threadEnded() = true;  // blocks freed later in the thread's end go straight back
  }

  static void push(Block*& list, Block* block) {
    block->next = list;
    poison(block);
    list = block;
  }
  static void releaseAll(Block*& list) {
    while (Block* block = list) {
      unpoison(block);
      list = block->next;
      ::operator delete(block, std::align_val_t{Align});
    }
  }

  // Hands the full outgoing chain to the depot, or back to the global allocator when it is full.
  void leaveChain() {
    Block* chain = outgoing_;
    outgoing_ = nullptr;
    outgoingCount_ = 0;
    {
      Depot& shared = depot();
      std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.count < kDepotChains) {
        shared.chains[shared.count++] = chain;
        shared.available.store(shared.count, std::memory_order_relaxed);
        return;
      }
    }
    releaseAll(chain);
  }
  // Refills the empty cache with a chain from the depot, when it has one.
  void takeChain() {
    Block* chain = nullptr;
    {
      Depot& shared = depot();
      if (shared.available.load(std::memory_order_relaxed) == 0) return;
      std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.count == 0) return;
      chain = shared.chains[--shared.count];
      shared.available.store(shared.count, std::memory_order_relaxed);
    }
    head_ = chain;
    count_ = kChainBlocks;
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
  Block* outgoing_ = nullptr;  // freed beyond a full cache, bound for the depot
  uint32_t outgoingCount_ = 0;
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
