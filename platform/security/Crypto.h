#pragma once
// Random bytes, digests and identifiers (OpenSSL).
#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace security {

// Keeps the crypto library's process-wide state until the process is gone. Left to itself the
// library frees that state in an exit handler, while threads that used it may still be running or
// ending (a dispatch queue's worker whose last task drew random bytes, a transfer thread): a thread
// that ends then runs the library's per-thread clean-up against locks already freed. Every function
// here calls it before using the library, and whatever starts the library by another way (libcurl)
// calls it first.
void keepCryptoLibraryForTheProcess();

// Cryptographically random bytes.
std::vector<uint8_t> randomBytes(size_t count);
// A uniform random integer in [0, upperBound); upperBound 0 gives 0. Tests can inject a source.
uint32_t randomUniform(uint32_t upperBound);
void setRandomUniformSourceForTesting(std::function<uint32_t(uint32_t)> source);  // empty resets
// 16 random bytes laid out as a version 4 UUID.
std::array<uint8_t, 16> uuidBytes();

std::array<uint8_t, 20> sha1(std::string_view bytes);
std::array<uint8_t, 20> sha1(const std::vector<uint8_t>& bytes);
std::array<uint8_t, 16> md5(std::string_view bytes);

}  // namespace security
