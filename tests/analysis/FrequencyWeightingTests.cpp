#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/FrequencyWeighting.h"

TEST(FrequencyWeighting, CurvesMatchTheStandardTableValues) {
  struct Row { float f, a, b, c; };
  for (const Row& row : {Row{1000, 0.0f, 0.0f, 0.0f}, Row{100, -19.14f, -5.65f, -0.30f},
                         Row{31.5f, -39.53f, -17.13f, -3.03f}, Row{10000, -2.49f, -4.30f, -4.40f}}) {
    EXPECT_NEAR(FrequencyWeighting::aWeight(row.f), row.a, 0.005) << row.f;
    EXPECT_NEAR(FrequencyWeighting::bWeight(row.f), row.b, 0.005) << row.f;
    EXPECT_NEAR(FrequencyWeighting::cWeight(row.f), row.c, 0.005) << row.f;
    EXPECT_EQ(FrequencyWeighting::zWeight(row.f), 0.0f);
  }
  EXPECT_TRUE(std::isinf(FrequencyWeighting::aWeight(0.0f)) && FrequencyWeighting::aWeight(0.0f) < 0);
  EXPECT_TRUE(std::isinf(FrequencyWeighting::bWeight(0.0f)) && FrequencyWeighting::bWeight(0.0f) < 0);
  EXPECT_TRUE(std::isinf(FrequencyWeighting::cWeight(0.0f)) && FrequencyWeighting::cWeight(0.0f) < 0);
}

TEST(FrequencyWeighting, TotalsSumPowersOfWeightedBins) {
  // 441 bins are 50 Hz apart, so bin 20 sits at 1 kHz and bin 2 at 100 Hz.
  std::vector<float> levels(441, -300.0f);
  EXPECT_FLOAT_EQ(FrequencyWeighting::binFrequency(20, 441), 1000.0f);
  levels[20] = -20.0f;
  WeightedTotals totals = FrequencyWeighting::weightedTotals(levels);
  EXPECT_NEAR(totals.dba, -20.0f, 0.01);
  EXPECT_NEAR(totals.dbb, -20.0f, 0.01);
  EXPECT_NEAR(totals.dbc, -20.0f, 0.01);
  EXPECT_NEAR(totals.dbz, -20.0f, 0.01);

  levels[20] = -300.0f;
  levels[2] = -10.0f;
  levels[0] = 0.0f;  // 0 Hz counts only in the flat total
  totals = FrequencyWeighting::weightedTotals(levels);
  EXPECT_NEAR(totals.dba, -10.0f - 19.14f, 0.01);
  EXPECT_NEAR(totals.dbc, -10.0f - 0.30f, 0.01);
  EXPECT_NEAR(totals.dbz, 10.0 * std::log10(1.0 + 0.1), 0.01);

  const WeightedTotals empty = FrequencyWeighting::weightedTotals({});
  EXPECT_TRUE(std::isinf(empty.dba) && empty.dba < 0);
  EXPECT_TRUE(std::isinf(empty.dbz) && empty.dbz < 0);
}

TEST(FrequencyWeighting, TableGivesTheTotalsOfTheDirectSum) {
  WeightingTable table;
  uint32_t seed = 7;
  for (size_t n : {size_t{128}, size_t{441}, size_t{8192}}) {
    std::vector<float> levels(n);
    for (auto& level : levels) {
      seed = seed * 1664525u + 1013904223u;
      level = -130.0f + static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) * 120.0f;
    }
    const WeightedTotals direct = FrequencyWeighting::weightedTotals(levels);
    const WeightedTotals fast = table.totals(levels);
    EXPECT_EQ(table.binCount(), n);
    EXPECT_NEAR(fast.dba, direct.dba, 1e-3) << n;
    EXPECT_NEAR(fast.dbb, direct.dbb, 1e-3) << n;
    EXPECT_NEAR(fast.dbc, direct.dbc, 1e-3) << n;
    EXPECT_NEAR(fast.dbz, direct.dbz, 1e-3) << n;
  }
  const WeightedTotals empty = table.totals({});
  EXPECT_TRUE(std::isinf(empty.dba) && empty.dba < 0);
}

namespace {
bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
void expectSameTotals(const WeightedTotals& fast, const WeightedTotals& exact, const std::string& where) {
  EXPECT_TRUE(sameBits(fast.dba, exact.dba)) << where << ": " << fast.dba << " vs " << exact.dba;
  EXPECT_TRUE(sameBits(fast.dbb, exact.dbb)) << where << ": " << fast.dbb << " vs " << exact.dbb;
  EXPECT_TRUE(sameBits(fast.dbc, exact.dbc)) << where << ": " << fast.dbc << " vs " << exact.dbc;
  EXPECT_TRUE(sameBits(fast.dbz, exact.dbz)) << where << ": " << fast.dbz << " vs " << exact.dbz;
}
}  // namespace

// The table's precomputed gains must give the frame pipeline's totals to the last bit: each term
// in double, the sum rounded to float after every addition.
TEST(FrequencyWeighting, TableTotalsAreTheExactSumsBitForBit) {
  WeightingTable table;
  uint32_t seed = 1234;
  auto uniform = [&seed](float low, float high) {
    seed = seed * 1664525u + 1013904223u;
    return low + (high - low) * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
  };
  for (size_t n : {size_t{128}, size_t{441}, size_t{1024}, size_t{8192}}) {
    for (int frame = 0; frame < (n == 8192 ? 6 : 20); ++frame) {
      std::vector<float> levels(n);
      // Spectra with a floor, peaks and a slope, as the analyser sees them.
      const float floor = uniform(-130.0f, -60.0f);
      for (size_t i = 0; i < n; ++i) levels[i] = floor + uniform(0.0f, 6.0f) - 20.0f * static_cast<float>(i) / static_cast<float>(n);
      for (int peak = 0; peak < 5; ++peak) levels[static_cast<size_t>(uniform(0.0f, static_cast<float>(n - 1)))] = uniform(-40.0f, 10.0f);
      expectSameTotals(table.totals(levels), FrequencyWeighting::weightedTotals(levels),
                       "n " + std::to_string(n) + " frame " + std::to_string(frame));
    }
  }
  // Levels beyond the fast range, infinities and NaN take the exact step and agree as well.
  std::vector<float> odd(256, -90.0f);
  odd[3] = -400.0f;
  odd[4] = 350.0f;
  odd[5] = -INFINITY;
  odd[9] = -184.9f;
  expectSameTotals(table.totals(odd), FrequencyWeighting::weightedTotals(odd), "out of range");
  odd[7] = NAN;
  const WeightedTotals withNaN = table.totals(odd);
  EXPECT_TRUE(std::isnan(withNaN.dba) && std::isnan(withNaN.dbz));
}

TEST(FrequencyWeighting, TableTakesTheExactStepWhereTheRoundingIsInDoubt) {
  // The flat total reaches 1 at bin 0; bin 1 adds 2^-24, half a float step above 1, so the sum
  // lands on a rounding midpoint that only the exact step decides. Every other step is fast.
  std::vector<float> levels(64, -150.0f);
  levels[0] = 0.0f;
  levels[1] = static_cast<float>(10.0 * std::log10(std::ldexp(1.0, -24)));
  WeightingTable table;
  const size_t before = table.exactSteps();
  expectSameTotals(table.totals(levels), FrequencyWeighting::weightedTotals(levels), "midpoint");
  EXPECT_EQ(table.exactSteps(), before + 1);
}

// Within a binade the steps add whole float units; every sum that crosses into the next binade,
// every term near half a unit and every bin without a fast term must still give the exact totals.
TEST(FrequencyWeighting, TableTotalsStayExactAcrossBinadesAndWideLevels) {
  WeightingTable table;
  uint32_t seed = 99;
  auto uniform = [&seed](float low, float high) {
    seed = seed * 1664525u + 1013904223u;
    return low + (high - low) * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
  };
  for (int round = 0; round < 120; ++round) {
    const size_t n = static_cast<size_t>(uniform(2.0f, 3000.0f));
    std::vector<float> levels(n);
    // Rising, falling and jumping levels over the whole fast range and beyond it, so that the sums
    // cross many binades, some terms dwarf the sum and some vanish beside it.
    const float slope = uniform(-0.2f, 0.2f);
    float level = uniform(-180.0f, 120.0f);
    for (float& v : levels) {
      level = std::clamp(level + slope + uniform(-3.0f, 3.0f), -200.0f, 310.0f);
      v = uniform(0.0f, 1.0f) < 0.02f ? uniform(-190.0f, 305.0f) : level;
    }
    expectSameTotals(table.totals(levels), FrequencyWeighting::weightedTotals(levels), "round " + std::to_string(round));
  }
  // The flat sum reaches 1 and stays there while tiny terms vanish beside it; bin 11 then adds
  // exactly half a float unit of that binade: a midpoint only the exact step decides.
  std::vector<float> levels(64, -150.0f);
  levels[0] = 0.0f;
  levels[11] = static_cast<float>(10.0 * std::log10(std::ldexp(1.0, -24)));
  WeightingTable midpoint;
  expectSameTotals(midpoint.totals(levels), FrequencyWeighting::weightedTotals(levels), "midpoint in a binade");
  EXPECT_EQ(midpoint.exactSteps(), 1u);
}
