// gzip data from outside (server answers, stored data): inflated within a limit, and any bytes
// round-tripped through gzip.
#include <cstdlib>

#include "platform/network/Gzip.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes input(data, data + size);
  // A limit below the default keeps each run short; the default is no different in kind.
  constexpr size_t kLimit = 1 << 20;
  int status = 0;
  auto inflated = net::gunzip(input, &status, kLimit);
  if (inflated && inflated->size() > kLimit) std::abort();
  if (!inflated && status == 0) std::abort();
  auto packed = net::gzip(input, &status);
  if (!packed) std::abort();
  auto back = net::gunzip(*packed, &status, size);
  if (!back || *back != input) std::abort();
  return 0;
}
