#pragma once
// A counter handing out distinct values to concurrent callers: 1, 2, 3, ...
#include <cstdint>
#include <mutex>

class FAtomicNumber {
 public:
  FAtomicNumber() = default;
  // The current value; the counter moves on by 1.
  uint64_t getAndIncrement();

 private:
  std::mutex lock_;
  uint64_t number_ = 1;
};
