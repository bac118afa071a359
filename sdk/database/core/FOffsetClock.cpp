#include "sdk/database/core/FOffsetClock.h"

double FOffsetClock::currentTime() const { return (clock_ ? clock_->currentTime() : 0.0) + offset_; }
