#include "sdk/database/realtime/FRetryHelper.h"

#include <algorithm>

#include "sdk/database/core/FUtilities.h"

FRetryHelper::FRetryHelper(std::function<double()> random) : random_(std::move(random)) {
  if (!random_) random_ = [] { return FUtilities::randomDouble(); };
}

double FRetryHelper::nextDelay() {
  if (immediate_) {
    immediate_ = false;
    currentDelay_ = 0;
    return 0;
  }
  currentDelay_ = currentDelay_ == 0 ? kMinRetryDelayAfterFailure
                                     : std::min(currentDelay_ * kRetryExponent, kMaxRetryDelay);
  return (1 - kJitterFactor) * currentDelay_ + kJitterFactor * currentDelay_ * random_();
}

void FRetryHelper::signalSuccess() {
  immediate_ = true;
  currentDelay_ = 0;
}
