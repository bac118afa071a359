#include "sdk/database/core/FAtomicNumber.h"

uint64_t FAtomicNumber::getAndIncrement() {
  std::lock_guard<std::mutex> lock(lock_);
  return number_++;
}
