#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "sdk/database/core/FOffsetClock.h"
#include "sdk/database/core/FSystemClock.h"

namespace {
class FixedClock : public FClock {
 public:
  explicit FixedClock(double t) : t_(t) {}
  double currentTime() const override { return t_; }

 private:
  double t_;
};
}  // namespace

TEST(Clocks, OffsetClockAddsItsOffset) {
  FOffsetClock clock(std::make_shared<FixedClock>(100.0), -2.5);
  EXPECT_DOUBLE_EQ(clock.currentTime(), 97.5);
  clock.setOffset(1.0);
  EXPECT_DOUBLE_EQ(clock.currentTime(), 101.0);
}

TEST(Clocks, SystemClockIsSharedAndFollowsThePlatformClock) {
  EXPECT_EQ(FSystemClock::clock(), FSystemClock::clock());
  Clock::setManual(true);
  Clock::setNow(1000.25);
  EXPECT_DOUBLE_EQ(FSystemClock::clock()->currentTime(), 1000.25);
  FOffsetClock server(FSystemClock::clock(), 3.0);
  Clock::advance(2.0);
  EXPECT_DOUBLE_EQ(server.currentTime(), 1005.25);
  Clock::setManual(false);
}
