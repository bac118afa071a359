#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <set>
#include <string>

#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"

extern char** environ;

namespace {

template <size_t N>
std::string hex(const std::array<uint8_t, N>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

TEST(Crypto, DigestsMatchKnownVectors) {
  EXPECT_EQ(hex(security::sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hex(security::sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(security::sha1(std::string_view("The quick brown fox jumps over the lazy dog"))),
            "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12");
  const std::vector<uint8_t> abc{'a', 'b', 'c'};
  EXPECT_EQ(security::sha1(abc), security::sha1("abc"));
  // Bytes past a zero are hashed too.
  EXPECT_NE(security::sha1(std::string_view("a\0b", 3)), security::sha1("a"));

  EXPECT_EQ(hex(security::md5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(security::md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(security::md5("The quick brown fox jumps over the lazy dog")),
            "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Crypto, UrlSafeBase64OfADigestUsesNoPlusOrSlash) {
  // 0xfb 0xff 0xbf needs both characters the URL-safe alphabet replaces.
  const std::vector<uint8_t> bytes{0xfb, 0xff, 0xbf, 0xfe};
  EXPECT_EQ(ns::base64Encode(bytes), "+/+//g==");
  EXPECT_EQ(ns::base64Encode(bytes, true), "-_-__g==");
  EXPECT_EQ(*ns::base64Decode("-_-__g"), bytes);
  EXPECT_EQ(*ns::base64Decode("-_-__g=="), bytes);

  auto digest = security::sha1("abc");
  std::string encoded = ns::base64Encode(std::vector<uint8_t>(digest.begin(), digest.end()), true);
  EXPECT_EQ(encoded, "qZk-NkcGgWq6PiVxeFDCbJzQ2J0=");
  auto decoded = ns::base64Decode(encoded);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(std::equal(decoded->begin(), decoded->end(), digest.begin(), digest.end()));
}

TEST(Crypto, RandomValuesHaveTheirShapeAndTheUniformSourceCanBeInjected) {
  auto uuid = security::uuidBytes();
  EXPECT_EQ(uuid[6] & 0xF0, 0x40);
  EXPECT_EQ(uuid[8] & 0xC0, 0x80);
  EXPECT_NE(security::uuidBytes(), uuid);
  EXPECT_EQ(security::randomBytes(33).size(), 33u);

  std::set<uint32_t> seen;
  for (int i = 0; i < 200; ++i) {
    uint32_t v = security::randomUniform(5);
    ASSERT_LT(v, 5u);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(security::randomUniform(0), 0u);

  security::setRandomUniformSourceForTesting([](uint32_t bound) { return bound - 1; });
  EXPECT_EQ(security::randomUniform(10), 9u);
  security::setRandomUniformSourceForTesting(nullptr);
}

// A worker that used the library may still be running, or ending, while the process exits: the
// library's state must outlive the exit handlers (the probe program tells by its exit status).
TEST(Crypto, TheLibraryIsStillThereForAWorkerThatEndsWhileTheProcessExits) {
  char program[] = SA_CRYPTO_AT_EXIT_PROBE;
  char* argv[] = {program, nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program, nullptr, nullptr, argv, environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the probe was killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the library's exit clean-up ran before the worker ended";
}

}  // namespace
