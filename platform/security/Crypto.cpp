#include "platform/security/Crypto.h"

#include <mutex>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace security {

namespace {
std::mutex gRandomMutex;
std::function<uint32_t(uint32_t)> gUniformSource;

template <size_t N>
std::array<uint8_t, N> digest(const EVP_MD* (*md)(), std::string_view bytes) {
  keepCryptoLibraryForTheProcess();
  std::array<uint8_t, N> out{};
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &len, md(), nullptr) != 1 || len != N)
    throw std::runtime_error("digest failed");
  return out;
}
}  // namespace

void keepCryptoLibraryForTheProcess() {
  // Only the first initialisation of the library decides whether it registers its exit handler.
  static const bool initialised = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
  (void)initialised;
}

std::vector<uint8_t> randomBytes(size_t count) {
  keepCryptoLibraryForTheProcess();
  std::vector<uint8_t> out(count);
  if (count > 0 && RAND_bytes(out.data(), static_cast<int>(count)) != 1)
    throw std::runtime_error("RAND_bytes failed");
  return out;
}

uint32_t randomUniform(uint32_t upperBound) {
  {
    std::lock_guard<std::mutex> lock(gRandomMutex);
    if (gUniformSource) return upperBound == 0 ? 0 : gUniformSource(upperBound) % upperBound;
  }
  if (upperBound < 2) return 0;
  keepCryptoLibraryForTheProcess();
  // Rejection sampling avoids the modulo bias.
  const uint32_t limit = static_cast<uint32_t>(-upperBound) % upperBound;
  while (true) {
    uint32_t r;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&r), sizeof r) != 1)
      throw std::runtime_error("RAND_bytes failed");
    if (r >= limit) return r % upperBound;
  }
}

void setRandomUniformSourceForTesting(std::function<uint32_t(uint32_t)> source) {
  std::lock_guard<std::mutex> lock(gRandomMutex);
  gUniformSource = std::move(source);
}

std::array<uint8_t, 16> uuidBytes() {
  auto raw = randomBytes(16);
  std::array<uint8_t, 16> out{};
  for (size_t i = 0; i < 16; ++i) out[i] = raw[i];
  out[6] = (out[6] & 0x0F) | 0x40;
  out[8] = (out[8] & 0x3F) | 0x80;
  return out;
}

std::array<uint8_t, 20> sha1(std::string_view bytes) { return digest<20>(EVP_sha1, bytes); }
std::array<uint8_t, 20> sha1(const std::vector<uint8_t>& bytes) {
  return sha1(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
std::array<uint8_t, 16> md5(std::string_view bytes) { return digest<16>(EVP_md5, bytes); }

}  // namespace security
