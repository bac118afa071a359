#pragma once
// Another clock's time moved by a fixed offset (the server's time minus the local time).
#include "sdk/database/core/FClock.h"

class FOffsetClock : public FClock {
 public:
  FOffsetClock(FClockRef clock, double offset) : clock_(std::move(clock)), offset_(offset) {}

  double currentTime() const override;

  const FClockRef& clock() const { return clock_; }
  void setClock(FClockRef clock) { clock_ = std::move(clock); }
  double offset() const { return offset_; }
  void setOffset(double offset) { offset_ = offset; }

 private:
  FClockRef clock_;
  double offset_;
};
