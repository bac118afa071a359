#pragma once
// Removes the DC component of captured samples in place: a one-pole, one-zero high-pass
// (pole 0.975). Runs on the render thread: no lock, no allocation. State carries across calls,
// so a signal split into deliveries of any size filters exactly like one long delivery.
//
// A filter that starts (at construction, or after Reset, for samples that continue nothing) meets
// the signal as a step from rest: its first outputs hold a transient of the filter's own, which
// decays by the pole each sample. Those outputs are not of the sound, so FilterInPlace says how
// many of them lead the delivery, and a caller that measures leaves them out.
#include <cstdint>

class DCRejectionFilter {
 public:
  static constexpr float kPole = 0.975f;
  // Samples after a start whose output is the filter's transient: by then it has decayed by
  // kPole^384 ≈ 6e-5 (−84 dB), below the leakage of any window a frame is taken with next to the
  // sound that caused it, and it takes under 9 ms of a 44,100 Hz capture.
  static constexpr uint32_t kSettlingFrames = 384;

  DCRejectionFilter() = default;

  // Filters `frameCount` samples in place; a null pointer is ignored. Returns how many of them,
  // from the first, still fall within kSettlingFrames of the start: their output is mostly the
  // transient.
  uint32_t FilterInPlace(float* samples, uint32_t frameCount);
  // Forgets the samples filtered so far, as at construction: for samples that do not continue them.
  void Reset() {
    lastOutput_ = 0.0f;
    lastInput_ = 0.0f;
    settlingLeft_ = kSettlingFrames;
  }

  float lastOutput() const { return lastOutput_; }
  float lastInput() const { return lastInput_; }
  // Samples of the transient still to come.
  uint32_t settlingLeft() const { return settlingLeft_; }

 private:
  float lastOutput_ = 0.0f;
  float lastInput_ = 0.0f;
  uint32_t settlingLeft_ = kSettlingFrames;
};
