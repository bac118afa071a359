#pragma once
// The frequency weightings of the level totals, each a gain in dB at a frequency in Hz:
// A and C as IEC 61672-1 draws them, B as the earlier sound-level-meter standard did, each
// normalised to 0 dB at 1 kHz; Z is flat (0 dB at every frequency).
#include <cstddef>
#include <span>
#include <vector>

struct WeightedTotals {
  float dba = 0.0f;
  float dbb = 0.0f;
  float dbc = 0.0f;
  float dbz = 0.0f;
};

struct FrequencyWeighting {
  static float aWeight(float frequency);
  static float bWeight(float frequency);
  static float cWeight(float frequency);
  static float zWeight(float frequency);

  // The frequency of bin i of n bins: i × (22050 / n), rounded to a 32-bit float.
  static float binFrequency(size_t index, size_t binCount);

  // The four weighted totals of calibrated bin levels (dB): per weighting, 10·log10 of the sum of
  // 10^((level + weight) / 10) over the bins. An empty spectrum gives minus infinity.
  static WeightedTotals weightedTotals(std::span<const float> levels);
};

// The weighted totals of one frame size, with every bin's weighting gain worked out once: the
// gains depend only on the bin frequencies, so a frame costs one exponential per bin instead of
// four weighting functions and four powers. Gives the same totals as weightedTotals.
class WeightingTable {
 public:
  // Makes the gains for binCount bins; does nothing when they are already for that count.
  void prepare(size_t binCount);
  size_t binCount() const { return gainA_.size(); }
  // The totals of levels (their count must be the prepared count; otherwise the table is
  // prepared for it first).
  WeightedTotals totals(std::span<const float> levels);

 private:
  std::vector<double> gainA_, gainB_, gainC_, gainZ_;  // 10^(weight / 10) per bin
};
