#include "sdk/database/core/FSystemClock.h"

#include "platform/foundation/Clock.h"

const std::shared_ptr<const FSystemClock>& FSystemClock::clock() {
  static const std::shared_ptr<const FSystemClock>& instance =
      *new std::shared_ptr<const FSystemClock>(std::make_shared<const FSystemClock>());
  return instance;
}

double FSystemClock::currentTime() const { return Clock::now(); }
