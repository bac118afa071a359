#pragma once
// One frame of N time samples to a power spectrum of N/2 bins in dB (full-scale power 1.0 is
// 0 dB, silence about -128 dB), averaged over the last 15 frames. Everything a frame needs is
// allocated at construction; ComputeFFT allocates nothing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "analysis/MathParams.h"
#include "analysis/SpectrumAverager.h"
#include "platform/accelerate/vDSP.h"

class FFTHelper {
 public:
  static constexpr uint32_t kMinFrameLength = 256;
  static constexpr uint32_t kMaxFrameLength = 16384;
  static constexpr int32_t kAveragedFrames = 15;
  // Added to every bin's power so that silence maps to -128 dB instead of minus infinity.
  static constexpr float kPowerFloor = 1.5849e-13f;

  // A power of two from 256 to 16,384.
  static bool isValidFrameLength(int64_t frameLength);

  // Throws std::invalid_argument for a frame length that isValidFrameLength refuses.
  explicit FFTHelper(uint32_t frameLength);
  ~FFTHelper();

  FFTHelper(const FFTHelper&) = delete;
  FFTHelper& operator=(const FFTHelper&) = delete;

  // Windows `inputSamples` (N samples) in place, transforms them and writes the averaged dB
  // spectrum to `output` (N/2 floats). Either pointer null: nothing happens.
  void ComputeFFT(float* inputSamples, float* output, MathParams params);

  // Multiplies sample i (0 ≤ i < N) by WindowWeight(i, N, params.window).
  void ApplyWindow(float* samples, MathParams params);
  // The N weights ApplyWindow multiplies by, or null for a window that weighs every sample 1 (and
  // is not applied at all).
  const float* windowWeights(MathParams params);
  // The rest of ComputeFFT once its input is in the split buffers: splitReal()[j] holding sample 2j
  // and splitImag()[j] sample 2j + 1, each windowed as ApplyWindow would (N/2 floats each). A
  // caller that gathers its samples from elsewhere writes them there directly instead of into a
  // frame of its own. Null output: nothing happens.
  float* splitReal() { return realp_.get(); }
  float* splitImag() { return imagp_.get(); }
  void ComputeFFTOfSplit(float* output);
  // Forgets the frames averaged so far: the next output is the next frame's own spectrum.
  void ResetAverage() { averager_->Clear(); }

  // Weight of sample i of a frame of `length` samples for window number `window`; numbers outside
  // 1 to 6, and 3, weigh every sample 1.
  static float WindowWeight(uint32_t i, uint32_t length, int32_t window);

  uint32_t frameLength() const { return 2 * halfLength_; }
  uint32_t halfLength() const { return halfLength_; }
  uint32_t log2N() const { return log2N_; }
  float scale() const { return scale_; }
  const SpectrumAverager& averager() const { return *averager_; }

 private:
  std::unique_ptr<SpectrumAverager> averager_;
  FFTSetup fftSetup_ = nullptr;
  // The split spectrum, 64-byte aligned so that the transform can use its widest vectors on it.
  struct AlignedFree {
    void operator()(float* p) const { ::operator delete[](p, std::align_val_t{64}); }
  };
  using AlignedFloats = std::unique_ptr<float[], AlignedFree>;
  static AlignedFloats alignedZeros(size_t count);
  AlignedFloats realp_;
  AlignedFloats imagp_;
  float scale_;
  uint32_t halfLength_;
  uint32_t log2N_;
  // The weights of the last window used; recomputed only when the window number changes.
  std::unique_ptr<float[]> windowTable_;
  int32_t windowTableNumber_ = -1;
};
