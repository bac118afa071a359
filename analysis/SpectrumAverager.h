#pragma once
// A ring of the last `slotCount` spectra (dB values per bin) whose mean is the averaged output.
// Every slot is allocated once at construction; adding and averaging allocate nothing.
//
// The mean divides every term by the number of filled slots before adding it. Once the ring is
// full that number no longer changes, so from then on each spectrum is stored already divided:
// a frame then costs one division per bin instead of one per bin and slot, with the same result.
// The slots are stored interleaved in blocks of kBlockBins bins (see the source).
#include <cstddef>
#include <cstdint>
#include <memory>

class SpectrumAverager {
 public:
  static constexpr size_t kBlockBins = 8;

  // binCount and slotCount must be positive (std::invalid_argument otherwise).
  SpectrumAverager(int32_t binCount, int32_t slotCount);

  SpectrumAverager(const SpectrumAverager&) = delete;
  SpectrumAverager& operator=(const SpectrumAverager&) = delete;

  // Copies binCount floats into the slot at the write index, the oldest slot once the ring is full.
  void AddSpectrum(const float* spectrum);
  // Per bin, the mean of the filled slots (each term divided before it is added, in slot order);
  // zeros while no spectrum has been added. Keeps the sums of the slots the next spectrum leaves
  // alone, so that the next mean starts from them.
  void GetMean(float* output);
  // Empties the ring: the next mean is of the spectra added from now on alone.
  void Clear();

  int32_t binCount() const { return binCount_; }
  int32_t slotCount() const { return slotCount_; }
  int32_t writeIndex() const { return writeIndex_; }
  int32_t filledCount() const { return filled_; }

 private:
  size_t blocks_;                     // blocks of kBlockBins bins, the last one padded
  std::unique_ptr<float[]> storage_;  // blocks × slotCount × kBlockBins floats
  int32_t slotCount_;
  int32_t binCount_;
  int32_t writeIndex_ = 0;
  int32_t filled_ = 0;
  // The stored values are the spectra divided by slotCount (set when the ring becomes full).
  bool storedDivided_ = false;
  // Per bin, the sum of slots 0 … prefixSlots_ − 1 as the mean adds them (valid while none of those
  // slots has been written since), kept by GetMean.
  std::unique_ptr<float[]> prefix_;
  int32_t prefixSlots_ = 0;
};
