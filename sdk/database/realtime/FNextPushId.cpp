#include "sdk/database/realtime/FNextPushId.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "platform/security/Crypto.h"

namespace {

constexpr int kTimeChars = 8;
constexpr int kRandomChars = 12;

struct PushIdState {
  std::mutex mutex;
  int64_t lastPushTime = -1;
  std::array<int, kRandomChars> lastRandChars{};
};

PushIdState& state() {
  static PushIdState* instance = new PushIdState();  // lives for the process
  return *instance;
}

// Counts the random part up by one; false when it wrapped around (every digit was at its top).
bool incrementRandom(std::array<int, kRandomChars>& digits) {
  for (int i = kRandomChars - 1; i >= 0; --i) {
    if (digits[static_cast<size_t>(i)] < 63) {
      digits[static_cast<size_t>(i)] += 1;
      return true;
    }
    digits[static_cast<size_t>(i)] = 0;
  }
  return false;
}

}  // namespace

std::string FNextPushId::get(double now) {
  const double millis = std::floor(now * 1000.0);
  // 8 characters of 6 bits hold 48 bits of milliseconds; a time outside them is clamped.
  int64_t pushTime = std::isfinite(millis) ? static_cast<int64_t>(std::fmax(0.0, std::fmin(millis, 281474976710655.0)))
                                           : 0;
  PushIdState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (pushTime <= s.lastPushTime) {
    pushTime = s.lastPushTime;
    if (!incrementRandom(s.lastRandChars)) pushTime += 1;  // 64^12 in one millisecond: move on
  } else {
    std::vector<uint8_t> bytes = security::randomBytes(kRandomChars);
    for (int i = 0; i < kRandomChars; ++i) s.lastRandChars[static_cast<size_t>(i)] = bytes[static_cast<size_t>(i)] % 64;
  }
  s.lastPushTime = pushTime;

  std::string id(kTimeChars + kRandomChars, '-');
  int64_t time = pushTime;
  for (int i = kTimeChars - 1; i >= 0; --i) {
    id[static_cast<size_t>(i)] = kPushChars[time % 64];
    time /= 64;
  }
  for (int i = 0; i < kRandomChars; ++i) {
    id[static_cast<size_t>(kTimeChars + i)] = kPushChars[s.lastRandChars[static_cast<size_t>(i)]];
  }
  return id;
}
