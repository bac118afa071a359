#pragma once
// The frequency weightings of the level totals, each a gain in dB at a frequency in Hz:
// A and C as IEC 61672-1 draws them, B as the earlier sound-level-meter standard did, each
// normalised to 0 dB at 1 kHz; Z is flat (0 dB at every frequency).
#include <cmath>
#include <cstddef>
#include <cstdint>
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

  // One step of a weighted total: the sum so far plus 10^((level + weight) / 10), the term
  // computed in double precision and the sum rounded back to a 32-bit float.
  static float addWeightedTerm(float sum, float level, float weight) {
    return static_cast<float>(sum + std::pow(10.0, (static_cast<double>(level) + weight) * 0.1));
  }

  // The four weighted totals of calibrated bin levels (dB): per weighting, 10·log10 of the sum,
  // bin after bin with addWeightedTerm, of the levels plus the weighting's gain at the bin's
  // frequency. An empty spectrum gives minus infinity.
  static WeightedTotals weightedTotals(std::span<const float> levels);
};

// The weighted totals of one frame size, with every bin's weighting gains worked out once: they
// depend only on the bin frequencies. A bin then costs one exponential and, per weighting, a
// multiplication by the gain instead of a power function. The sums are those of weightedTotals to
// the last bit: the error of such a term is bounded, and the rare step where it could change the
// rounding of the sum to 32 bits, or whose level or gain lies outside the range of that bound,
// takes weightedTotals' exact step instead.
class WeightingTable {
 public:
  // Makes the gains for binCount bins; does nothing when they are already for that count.
  void prepare(size_t binCount);
  size_t binCount() const { return weights_[0].size(); }
  // The totals of levels (their count must be the prepared count; otherwise the table is
  // prepared for it first). Allocates nothing once prepared.
  WeightedTotals totals(std::span<const float> levels);
  // Steps that took the exact path since the table was made (for tests and benchmarks).
  size_t exactSteps() const { return exactSteps_; }

 private:
  static constexpr size_t kWeightings = 4;  // A, B, C, Z
  // Step w of bin i from u = sum + fast term (not a number: no fast term): u rounded to float, or
  // the exact step where u is near a midpoint or missing.
  [[gnu::noinline]] double finishStep(double sum, double u, float level, size_t w, size_t i);
  std::vector<float> weights_[kWeightings];  // the weighting gain of each bin, dB
  std::vector<double> gains_;                // 10^(weight / 10), the four of a bin together
  std::vector<double> weightMasks_;          // 0 where all four gains allow the fast step, else NaN
  bool anyMasked_ = false;                   // whether some mask is not a number
  std::vector<double> powers_;               // 10^(level / 10) of the frame's bins
  size_t exactSteps_ = 0;
};
