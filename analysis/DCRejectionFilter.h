#pragma once
// Removes the DC component of captured samples in place: a one-pole, one-zero high-pass
// (pole 0.975). Runs on the render thread: no lock, no allocation. State carries across calls,
// so a signal split into deliveries of any size filters exactly like one long delivery.
#include <cstdint>

class DCRejectionFilter {
 public:
  static constexpr float kPole = 0.975f;

  DCRejectionFilter() = default;

  // Filters `frameCount` samples in place; a null pointer is ignored.
  void FilterInPlace(float* samples, uint32_t frameCount);
  // Forgets the samples filtered so far, as at construction: for samples that do not continue them.
  void Reset() {
    lastOutput_ = 0.0f;
    lastInput_ = 0.0f;
  }

  float lastOutput() const { return lastOutput_; }
  float lastInput() const { return lastInput_; }

 private:
  float lastOutput_ = 0.0f;
  float lastInput_ = 0.0f;
};
