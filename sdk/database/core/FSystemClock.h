#pragma once
// The platform's wall clock.
#include "sdk/database/core/FClock.h"

class FSystemClock : public FClock {
 public:
  static const std::shared_ptr<const FSystemClock>& clock();  // the shared instance
  double currentTime() const override;
};
