#pragma once
// The frequency weightings of the level totals, each a gain in dB at a frequency in Hz:
// A and C as IEC 61672-1 draws them, B as the earlier sound-level-meter standard did, each
// normalised to 0 dB at 1 kHz; Z is flat (0 dB at every frequency).
#include <cstddef>
#include <span>

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
