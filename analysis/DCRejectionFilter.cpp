#include "analysis/DCRejectionFilter.h"

#include <algorithm>

uint32_t DCRejectionFilter::FilterInPlace(float* samples, uint32_t frameCount) {
  if (!samples) return 0;
  float lastIn = lastInput_;
  float lastOut = lastOutput_;
  for (uint32_t i = 0; i < frameCount; ++i) {
    const float x = samples[i];
    const float y = (x - lastIn) + kPole * lastOut;
    samples[i] = y;
    lastIn = x;
    lastOut = y;
  }
  lastInput_ = lastIn;
  lastOutput_ = lastOut;
  const uint32_t settling = std::min(settlingLeft_, frameCount);
  settlingLeft_ -= settling;
  return settling;
}
