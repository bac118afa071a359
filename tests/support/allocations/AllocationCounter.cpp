#include "tests/support/allocations/AllocationCounter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local long tAllocations = 0;
void* countedAllocation(size_t size, size_t alignment = 0) {
  ++tAllocations;
  if (size == 0) size = 1;
  if (alignment > alignof(std::max_align_t)) {
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
  }
  return std::malloc(size);
}
}  // namespace

long testsupport::allocationsOnThisThread() { return tAllocations; }

void* operator new(size_t size) {
  if (void* p = countedAllocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new(size_t size, std::align_val_t a) {
  if (void* p = countedAllocation(size, static_cast<size_t>(a))) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t a) { return operator new(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
