#include <gtest/gtest.h>

#include <cmath>
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
