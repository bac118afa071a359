#include "analysis/FrequencyWeighting.h"

#include <cmath>

namespace {
constexpr double k12200Sq = 148840000.0;  // 12200²
constexpr double k20_6Sq = 424.36;        // 20.6²
constexpr double k107_7Sq = 11599.29;     // 107.7²
constexpr double k737_9Sq = 544496.41;    // 737.9²
constexpr double k158_5Sq = 25122.25;     // 158.5²
}  // namespace

float FrequencyWeighting::aWeight(float frequency) {
  const double f = frequency;
  const double f2 = f * f;
  const double gain = k12200Sq * std::pow(f, 4.0) /
                      ((f2 + k20_6Sq) * (f2 + k12200Sq) * std::sqrt((f2 + k107_7Sq) * (f2 + k737_9Sq)));
  return static_cast<float>(20.0 * std::log10(gain) + 2.0);
}

float FrequencyWeighting::bWeight(float frequency) {
  const double f = frequency;
  const double f2 = f * f;
  const double gain = k12200Sq * std::pow(f, 3.0) / ((f2 + k12200Sq) * (f2 + k20_6Sq) * std::sqrt(f2 + k158_5Sq));
  return static_cast<float>(20.0 * std::log10(gain) + 0.17);
}

float FrequencyWeighting::cWeight(float frequency) {
  const double f = frequency;
  const double f2 = f * f;
  const double gain = k12200Sq * f2 / ((f2 + k20_6Sq) * (f2 + k12200Sq));
  return static_cast<float>(20.0 * std::log10(gain) + 0.06);
}

float FrequencyWeighting::zWeight(float) { return 0.0f; }

float FrequencyWeighting::binFrequency(size_t index, size_t binCount) {
  if (binCount == 0) return 0.0f;
  return static_cast<float>(static_cast<double>(index) * (22050.0 / static_cast<double>(binCount)));
}

WeightedTotals FrequencyWeighting::weightedTotals(std::span<const float> levels) {
  float sumA = 0.0f, sumB = 0.0f, sumC = 0.0f, sumZ = 0.0f;
  const size_t n = levels.size();
  for (size_t i = 0; i < n; ++i) {
    const float level = levels[i];
    const float f = binFrequency(i, n);
    const float wa = aWeight(f), wb = bWeight(f), wc = cWeight(f), wz = zWeight(f);
    sumA = static_cast<float>(sumA + std::pow(10.0, (static_cast<double>(level) + wa) * 0.1));
    sumB = static_cast<float>(sumB + std::pow(10.0, (static_cast<double>(level) + wb) * 0.1));
    sumC = static_cast<float>(sumC + std::pow(10.0, (static_cast<double>(level) + wc) * 0.1));
    sumZ = static_cast<float>(sumZ + std::pow(10.0, (static_cast<double>(level) + wz) * 0.1));
  }
  return WeightedTotals{static_cast<float>(10.0 * std::log10(sumA)), static_cast<float>(10.0 * std::log10(sumB)),
                        static_cast<float>(10.0 * std::log10(sumC)), static_cast<float>(10.0 * std::log10(sumZ))};
}

void WeightingTable::prepare(size_t n) {
  if (gainA_.size() == n) return;
  gainA_.resize(n);
  gainB_.resize(n);
  gainC_.resize(n);
  gainZ_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const float f = FrequencyWeighting::binFrequency(i, n);
    gainA_[i] = std::pow(10.0, static_cast<double>(FrequencyWeighting::aWeight(f)) * 0.1);
    gainB_[i] = std::pow(10.0, static_cast<double>(FrequencyWeighting::bWeight(f)) * 0.1);
    gainC_[i] = std::pow(10.0, static_cast<double>(FrequencyWeighting::cWeight(f)) * 0.1);
    gainZ_[i] = std::pow(10.0, static_cast<double>(FrequencyWeighting::zWeight(f)) * 0.1);
  }
}

WeightedTotals WeightingTable::totals(std::span<const float> levels) {
  prepare(levels.size());
  constexpr double kLn10Over10 = 0.23025850929940458;  // ln(10) / 10
  double sumA = 0, sumB = 0, sumC = 0, sumZ = 0;
  for (size_t i = 0; i < levels.size(); ++i) {
    const double power = std::exp(static_cast<double>(levels[i]) * kLn10Over10);
    sumA += power * gainA_[i];
    sumB += power * gainB_[i];
    sumC += power * gainC_[i];
    sumZ += power * gainZ_[i];
  }
  return WeightedTotals{static_cast<float>(10.0 * std::log10(sumA)), static_cast<float>(10.0 * std::log10(sumB)),
                        static_cast<float>(10.0 * std::log10(sumC)), static_cast<float>(10.0 * std::log10(sumZ))};
}
