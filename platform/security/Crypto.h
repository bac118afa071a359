#pragma once
// Random bytes, digests and identifiers (OpenSSL).
#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace security {

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
