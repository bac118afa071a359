#include "analysis/DCRejectionFilter.h"

void DCRejectionFilter::FilterInPlace(float* samples, uint32_t frameCount) {
  if (!samples) return;
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
}
