#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "analysis/BandMapping.h"
#include "analysis/Octave.h"

TEST(Octave, TablesParseLineByLineAndShortLinesAreSkipped) {
  const std::vector<Octave> three = Octave::parseOctavesText("1 2 3\n4.5 5 6\n7 8 9.25");
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[1].lowFreq(), 4.5f);
  EXPECT_EQ(three[2].highFreq(), 9.25f);
  const std::vector<Octave> ragged = Octave::parseOctavesText("10 20 30\r\n40 50\n\n60 70 80x\n");
  ASSERT_EQ(ragged.size(), 2u);
  EXPECT_EQ(ragged[0].highFreq(), 30.0f);  // a trailing carriage return still reads as the number
  EXPECT_EQ(ragged[1].midFreq(), 70.0f);
  EXPECT_EQ(ragged[1].highFreq(), 80.0f);
  EXPECT_TRUE(Octave::parseOctavesResources("no-such-table").empty());
  EXPECT_TRUE(Octave::parseOctavesFile("/nonexistent/1.txt").empty());
}

TEST(Octave, ShippedTablesHaveTheExpectedBandsInOrder) {
  struct Expect { const char* name; size_t count; float firstMid, lastMid; };
  for (const Expect& e : {Expect{"1", 10, 31.62f, 15848.93f}, Expect{"1_3", 30, 25.12f, 19952.62f},
                          Expect{"1_6", 60, 23.71f, 21134.89f}}) {
    const std::vector<Octave> bands = Octave::parseOctavesResources(e.name);
    ASSERT_EQ(bands.size(), e.count) << e.name;
    EXPECT_NEAR(bands.front().midFreq(), e.firstMid, 0.01) << e.name;
    EXPECT_NEAR(bands.back().midFreq(), e.lastMid, 0.01) << e.name;
    for (size_t i = 0; i < bands.size(); ++i) {
      EXPECT_LT(bands[i].lowFreq(), bands[i].midFreq());
      EXPECT_LT(bands[i].midFreq(), bands[i].highFreq());
      if (i > 0) {
        EXPECT_NEAR(bands[i].lowFreq(), bands[i - 1].highFreq(), 0.011) << e.name << " " << i;
      }
    }
  }
}

TEST(BandMapping, BandMeansOfEmptyZeroAndClippedBands) {
  std::vector<float> levels(100);
  for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<float>(i);
  EXPECT_EQ(BandMapping::bandMean(levels, 1000.0f, 500.0f), 0.0f);  // lo > hi
  std::vector<float> zeros(100, 0.0f);
  EXPECT_EQ(BandMapping::bandMean(zeros, 100.0f, 5000.0f), 0.0f);
  // 100 bins of 220.5 Hz: 20 kHz to 30 kHz covers bins 90 … 99 (cut at the last bin).
  EXPECT_FLOAT_EQ(BandMapping::bandMean(levels, 20000.0f, 30000.0f), 94.5f);
  // 441 Hz to 882 Hz covers bins 2 … 4.
  EXPECT_FLOAT_EQ(BandMapping::bandMean(levels, 441.0f, 882.0f), 3.0f);
  EXPECT_EQ(BandMapping::bandMean({}, 100.0f, 200.0f), 0.0f);
}

TEST(BandMapping, SeriesAndFullOctaveOutputFollowTheTables) {
  BandMapping mapping;
  std::vector<float> levels(512, -50.0f), series;
  mapping.processData(levels, series);
  EXPECT_EQ(series.size(), 512u);  // linear scale: the levels themselves
  for (int32_t scale : {2, 3, 4}) {
    mapping.setScaleType(scale);
    mapping.processData(levels, series);
    EXPECT_EQ(static_cast<int32_t>(series.size()), mapping.getOctavesCount());
    for (float v : series) EXPECT_FLOAT_EQ(v, -50.0f);
  }
  std::array<float, BandMapping::kFullOctaveCount> octaves{};
  EXPECT_EQ(mapping.fullOctaveOutput(levels, octaves), 10u);
  for (size_t k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(octaves[k], -50.0f + BandMapping::kFullOctaveOffsets[k]);
  EXPECT_FLOAT_EQ(octaves[8], 90.0f);

  // A short table is never read past its end.
  BandMapping shortTable([](const std::string&) { return Octave::parseOctavesText("100 141 200\n200 282 400"); });
  EXPECT_EQ(shortTable.fullOctaveOutput(levels, octaves), 2u);
  EXPECT_FLOAT_EQ(octaves[1], -50.0f + BandMapping::kFullOctaveOffsets[1]);
  EXPECT_EQ(octaves[2], 0.0f);
  BandMapping noTable([](const std::string&) { return std::vector<Octave>{}; });
  noTable.setScaleType(3);
  noTable.processData(levels, series);
  EXPECT_TRUE(series.empty());
}

TEST(BandMapping, HorizontalPositionsOnEveryScale) {
  BandMapping mapping;
  mapping.setBackingSize(568, 300);
  // Linear, n = 256: bin 0 is not drawn; the first drawn bin lands at x = 0.
  EXPECT_FALSE(mapping.includePointToGraph(0, 256));
  EXPECT_TRUE(mapping.includePointToGraph(1, 256));
  EXPECT_EQ(mapping.xForIndex(1, 256, true), 0.0f);
  EXPECT_NEAR(mapping.xForIndex(256, 256, false), 568.0f, 1e-3);  // 22,050 Hz at the right edge
  EXPECT_NEAR(mapping.getScale(), 568.0 / 22020.0, 1e-7);
  mapping.setScaleType(1);
  EXPECT_EQ(mapping.xForIndex(0, 256, false), 0.0f);
  EXPECT_NEAR(mapping.xForIndex(256, 256, false), 568.0f, 1e-3);
  EXPECT_NEAR(mapping.getFreqForX(568.0f, 256), 22050.0f, 0.5);
  mapping.setScaleType(3);
  EXPECT_TRUE(mapping.includePointToGraph(0, 30));
  EXPECT_NEAR(mapping.xForIndex(0, 30, true), 0.5f * 568.0f / 30.0f, 1e-4);
  EXPECT_NEAR(mapping.xForIndex(29, 30, false), 29.5f * 568.0f / 30.0f, 1e-3);
}

TEST(BandMapping, ThinningKeepsPeaksAndEmptySeriesDrawNothing) {
  BandMapping mapping;
  mapping.setBackingSize(100, 200);
  std::vector<float> series(256, -100.0f);
  series[4] = -20.0f;  // falls inside the spacing of the points around it
  std::vector<DisplayPoint> points;
  mapping.vertexArrayFromData(series, 2, points);
  ASSERT_GT(points.size(), 2u);
  EXPECT_LT(points.size(), 100u);
  EXPECT_EQ(points.front().x, 0.0f);
  const float spikeY = mapping.yForValue(-20.0f);
  EXPECT_FLOAT_EQ(spikeY, 110.0f * 200.0f / 120.0f);
  EXPECT_TRUE(std::any_of(points.begin(), points.end(), [&](const DisplayPoint& p) { return p.y == spikeY; }));
  for (size_t i = 1; i < points.size(); ++i) EXPECT_GT(points[i].x, points[i - 1].x);

  mapping.vertexArrayFromData({}, 2, points);
  EXPECT_TRUE(points.empty());
  mapping.setScaleType(2);
  mapping.vertexArrayFromData({}, 2, points);
  EXPECT_TRUE(points.empty());
  mapping.splineVertexArrayFromData({}, points);
  EXPECT_TRUE(points.empty());

  // Band scales close the trace at both edges.
  std::vector<float> bands = {-40.0f, -30.0f, -20.0f};
  mapping.vertexArrayFromData(bands, 2, points);
  ASSERT_EQ(points.size(), 5u);
  EXPECT_EQ(points.front().x, 0.0f);
  EXPECT_EQ(points.front().y, mapping.yForValue(-40.0f));
  EXPECT_EQ(points.back().x, 100.0f);
  EXPECT_EQ(points.back().y, mapping.yForValue(-20.0f));
}

TEST(BandMapping, SplinePointsEveryTwoPixelsUpToTheLastSupportPoint) {
  BandMapping mapping;
  mapping.setBackingSize(200, 100);
  std::vector<float> series(512, -70.0f);
  std::vector<DisplayPoint> points;
  mapping.splineVertexArrayFromData(series, points);
  ASSERT_GT(points.size(), 50u);
  for (size_t i = 0; i + 1 < points.size(); ++i) EXPECT_EQ(points[i].x, 2.0f * i);
  EXPECT_EQ(points.back().x, mapping.xForIndex(511, 512, false));  // the last bin, 21,963.87 Hz
  for (const DisplayPoint& p : points) ASSERT_NEAR(p.y, mapping.yForValue(-70.0f), 1e-3);
}

TEST(BandMapping, ValueQueriesClampTheIndexIntoTheSeries) {
  BandMapping mapping;
  mapping.setBackingSize(568, 300);
  std::vector<float> fft(256);
  for (size_t i = 0; i < fft.size(); ++i) fft[i] = -static_cast<float>(i);
  auto middle = mapping.getValueByX(284.0f, fft);
  ASSERT_TRUE(middle.has_value());
  const float frequency = (*middle)["frequency"].get<float>();
  EXPECT_NEAR(frequency, 284.0f / (568.0f / 22020.0f) + 30.0f, 0.1);
  EXPECT_EQ((*middle)["volume"].get<float>(), fft[static_cast<size_t>(256.0 / 22050.0 * frequency)]);
  EXPECT_EQ((*mapping.getValueByX(5000.0f, fft))["volume"].get<float>(), -255.0f);
  EXPECT_EQ((*mapping.getValueByX(-50.0f, fft))["volume"].get<float>(), 0.0f);
  EXPECT_FALSE(mapping.getValueByX(100.0f, {}).has_value());
  std::vector<float> shortMax = {7.0f};
  EXPECT_EQ(mapping.getValueMaximumByX(400.0f, shortMax, fft.size())["volume"].get<float>(), 0.0f);
  EXPECT_EQ(mapping.getValueMinimumByX(0.0f, shortMax, fft.size())["volume"].get<float>(), 7.0f);

  // Before the view has a width nothing divides by zero.
  BandMapping unsized;
  EXPECT_EQ(unsized.getIndexForX(10.0f, 256), 0);

  mapping.setScaleType(2);
  std::vector<float> octaves(10, -60.0f);
  EXPECT_EQ(mapping.getIndexForX(568.0f * 0.55f, 10), 5);
  EXPECT_NEAR(mapping.getFreqMaximumForX(568.0f * 0.55f, 10), 1000.0f, 0.01);
  EXPECT_EQ(mapping.getFreqMaximumForX(10.0f, 10), 0.0f);  // the first band reports 0 Hz
}

TEST(BandMapping, MarkerSnapsToTheNearestPointAndHidesAtTheLeftEdge) {
  BandMapping mapping;
  const std::vector<DisplayPoint> line = {{0, 1}, {10, 1}, {20, 1}};
  mapping.setMarkerAt(14.0f, line);
  EXPECT_EQ(mapping.markerPosition(), 10.0f);
  EXPECT_EQ(mapping.getCurrentX(), 14.0f);
  mapping.setMarkerAt(15.0f, line);  // a tie goes right
  EXPECT_EQ(mapping.markerPosition(), 20.0f);
  mapping.setMarkerAt(10.0f, line);  // right on a point
  EXPECT_EQ(mapping.markerPosition(), 10.0f);
  mapping.setMarkerAt(99.0f, line);
  EXPECT_EQ(mapping.markerPosition(), 20.0f);
  EXPECT_TRUE(mapping.isMarkerVisible());
  mapping.setMarkerAt(0.0f, line);
  EXPECT_FALSE(mapping.isMarkerVisible());
  mapping.setMarkerAt(5.0f, std::vector<DisplayPoint>{{0, 1}});  // fewer than two points: unchanged
  EXPECT_EQ(mapping.markerPosition(), -1.0f);

  mapping.setScaleType(3);
  const std::vector<DisplayPoint> bands = {{0, 1}, {5, 1}, {15, 1}, {25, 1}, {30, 1}};
  mapping.setMarkerAt(12.0f, bands);
  EXPECT_EQ(mapping.markerPosition(), 15.0f);
  mapping.setMarkerAt(5.0f, bands);
  EXPECT_FALSE(mapping.isMarkerVisible());
  mapping.setMarkerAt(28.0f, bands);  // right of the last band: onto it, not onto the closing point
  EXPECT_EQ(mapping.markerPosition(), 25.0f);
}

namespace {

// Reproducible uniform floats in [low, high), from a linear congruential generator.
struct UniformFloats {
  uint32_t seed;
  float operator()(float low, float high) {
    seed = seed * 1664525u + 1013904223u;
    return low + (high - low) * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
  }
};

// The thinning as written out element by element, from the mapping's own positions and heights.
std::vector<DisplayPoint> thinnedElementByElement(const BandMapping& mapping, std::span<const float> series,
                                                  int32_t minDiff) {
  std::vector<DisplayPoint> points;
  const int64_t m = static_cast<int64_t>(series.size());
  if (m == 0) return points;
  if (mapping.isBandScale()) points.push_back({0.0f, mapping.yForValue(series[0])});
  float lastX = -100.0f;
  float bucket = -10000.0f;
  bool first = true;
  for (int64_t i = 0; i < m; ++i) {
    if (!mapping.includePointToGraph(i, m)) continue;
    const float x = mapping.xForIndex(i, m, first);
    const float y = mapping.yForValue(series[static_cast<size_t>(i)]);
    first = false;
    if (x - lastX > static_cast<float>(minDiff) || i == m - 1) {
      points.push_back({x, std::max(y, bucket)});
      bucket = -10000.0f;
      lastX = x;
    } else {
      bucket = std::max(bucket, y);
    }
  }
  if (mapping.isBandScale()) {
    points.push_back({static_cast<float>(mapping.backingWidth()), mapping.yForValue(series[static_cast<size_t>(m - 1)])});
  }
  return points;
}

bool samePoints(const std::vector<DisplayPoint>& a, const std::vector<DisplayPoint>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(DisplayPoint)) == 0);
}

}  // namespace

// The display points come from layouts kept per length, width, scale and spacing and from the
// highest level of each thinned run; they must be the element-by-element thinning's to the last
// bit, whatever the levels (NaN and infinities included) and the vertical mapping.
TEST(BandMapping, KeptLayoutsGiveTheElementByElementPoints) {
  UniformFloats uniform{77u};
  BandMapping mapping;
  const AreaParams areas[] = {{-130.0f, -10.0f}, {-90.0f, 20.0f}, {0.0f, 50.0f}, {-10.0f, -130.0f}, {-50.0f, -50.0f}};
  size_t compared = 0;
  for (int round = 0; round < 400; ++round) {
    const int32_t scale = round % 5;
    mapping.setScaleType(scale);
    mapping.setBackingSize(round % 9 == 0 ? 0 : static_cast<int32_t>(uniform(50.0f, 1200.0f)),
                           round % 13 == 0 ? 0 : static_cast<int32_t>(uniform(50.0f, 700.0f)));
    mapping.setAreaParams(areas[round % 5]);
    const size_t n = scale >= 2 ? static_cast<size_t>(uniform(1.0f, 70.0f)) : size_t{1} << (7 + round % 7);
    std::vector<float> series(n);
    for (float& v : series) v = uniform(-150.0f, 0.0f);
    if (round % 6 == 0) series[n / 2] = NAN;
    if (round % 7 == 0) series[n / 3] = INFINITY;
    if (round % 8 == 0) series[n - 1] = -INFINITY;
    if (round % 10 == 0) series[0] = -0.0f;
    for (int32_t minDiff : {2, 10}) {
      std::vector<DisplayPoint> points;
      mapping.vertexArrayFromData(series, minDiff, points);
      ASSERT_TRUE(samePoints(points, thinnedElementByElement(mapping, series, minDiff)))
          << "round " << round << " scale " << scale << " n " << n << " spacing " << minDiff;
      ++compared;
    }
    // The smoothed trace: the spline through the support points, sampled every 2 pixels.
    std::vector<DisplayPoint> smooth;
    mapping.splineVertexArrayFromData(series, smooth);
    const std::vector<DisplayPoint> support = thinnedElementByElement(mapping, series, 10);
    std::vector<ORVCubicSpline::Point> input;
    for (const DisplayPoint& p : support) input.push_back({p.x, p.y});
    const ORVCubicSpline spline(input);
    std::vector<DisplayPoint> expected;
    if (!support.empty()) {
      const double lastX = support.back().x;
      for (int64_t x = 0; static_cast<double>(x) < lastX; x += 2) {
        expected.push_back({static_cast<float>(x), static_cast<float>(spline.interpolate(static_cast<double>(x)))});
      }
      expected.push_back({static_cast<float>(lastX), static_cast<float>(spline.interpolate(static_cast<float>(lastX)))});
    }
    ASSERT_EQ(smooth.size(), expected.size()) << "round " << round;
    for (size_t k = 0; k < smooth.size(); ++k) {
      ASSERT_TRUE(std::memcmp(&smooth[k], &expected[k], sizeof(DisplayPoint)) == 0 ||
                  (smooth[k].x == expected[k].x && std::isnan(smooth[k].y) && std::isnan(expected[k].y)))
          << "round " << round << " point " << k;
    }
  }
  EXPECT_EQ(compared, 800u);
}

// The full-octave output sums the widest band beside the others in one loop; every band must be
// bandMean's, to the last bit.
TEST(BandMapping, FullOctaveOutputIsEachBandsMean) {
  BandMapping mapping;
  const std::vector<Octave>& table = mapping.octavesForScaleType(2);
  ASSERT_EQ(table.size(), BandMapping::kFullOctaveCount);
  uint32_t seed = 31;
  for (size_t n : {size_t{1}, size_t{7}, size_t{128}, size_t{1000}, size_t{8192}}) {
    std::vector<float> levels(n);
    for (float& v : levels) {
      seed = seed * 1664525u + 1013904223u;
      v = -140.0f + 150.0f * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
    }
    std::array<float, BandMapping::kFullOctaveCount> octaves{};
    ASSERT_EQ(mapping.fullOctaveOutput(levels, octaves), BandMapping::kFullOctaveCount);
    for (size_t k = 0; k < octaves.size(); ++k) {
      const float expected = BandMapping::bandMean(levels, table[k].lowFreq(), table[k].highFreq()) +
                             BandMapping::kFullOctaveOffsets[k];
      ASSERT_EQ(std::memcmp(&octaves[k], &expected, sizeof expected), 0) << "n " << n << " band " << k;
    }
  }
}

// The peak search looks at eight elements at once; it must end where the one scan from the floor
// ends, which takes an element only when it is strictly greater than the best so far: the first of
// equal highest levels (0 and -0 are equal), never a level that is not a number, none at or below
// the floor.
TEST(BandMapping, IndexOfHighestIsTheOneScansIndex) {
  auto scan = [](std::span<const float> levels, float floor) {
    float best = floor;
    int64_t index = -1;
    for (size_t i = 0; i < levels.size(); ++i) {
      if (levels[i] > best) {
        best = levels[i];
        index = static_cast<int64_t>(i);
      }
    }
    return index;
  };
  uint32_t seed = 5;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  const float specials[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, -10000.0f, -20000.0f};
  size_t found = 0;
  for (int round = 0; round < 3000; ++round) {
    const size_t n = round % 50 == 0 ? 8192 : next() % 80;
    std::vector<float> levels(n);
    // Few distinct values, so that equal highest levels are common.
    const bool coarse = round % 3 == 0;
    for (float& v : levels) v = coarse ? static_cast<float>(next() % 5) - 30.0f : -150.0f + static_cast<float>(next() % 15000) / 100.0f;
    for (int k = 0; k < round % 4 && n > 0; ++k) levels[next() % n] = specials[next() % std::size(specials)];
    if (round % 17 == 0) std::fill(levels.begin(), levels.end(), round % 2 ? -10000.0f : NAN);
    if (round % 23 == 0 && n > 0) {
      std::fill(levels.begin(), levels.end(), 0.0f);
      levels[next() % n] = -0.0f;
    }
    const float floor = round % 5 == 0 ? -std::numeric_limits<float>::infinity() : -10000.0f;
    const int64_t expected = scan(levels, floor);
    ASSERT_EQ(BandMapping::indexOfHighest(levels, floor), expected) << "round " << round << " n " << n;
    found += expected >= 0;
  }
  EXPECT_GT(found, 2000u);
}

// The current trace and the held series are smoothed together; each must get the points its own
// splineVertexArrayFromData gives, to the last bit, whatever the scale, size, range and levels, with
// the shared set-up kept while the support x stay and made again when they change.
TEST(BandMapping, SeriesSmoothedTogetherGetTheirOwnSplinePoints) {
  UniformFloats uniform{404u};
  BandMapping together, alone;
  const AreaParams areas[] = {{-130.0f, -10.0f}, {-90.0f, 20.0f}, {0.0f, 50.0f}, {-10.0f, -130.0f}};
  size_t compared = 0;
  for (int round = 0; round < 300; ++round) {
    const int32_t scale = round % 5;
    // The same layout for a few rounds running, so that the kept set-up is used too.
    if (round % 3 == 0) {
      const int32_t width = round % 27 == 0 ? 0 : static_cast<int32_t>(uniform(50.0f, 1200.0f));
      const int32_t height = round % 13 == 0 ? 0 : static_cast<int32_t>(uniform(50.0f, 700.0f));
      for (BandMapping* mapping : {&together, &alone}) {
        mapping->setBackingSize(width, height);
        mapping->setAreaParams(areas[(round / 3) % 4]);
      }
    }
    together.setScaleType(scale);
    alone.setScaleType(scale);
    const size_t n = scale >= 2 ? static_cast<size_t>(uniform(1.0f, 70.0f)) : size_t{1} << (7 + (round / 5) % 7);
    const size_t seriesCount = 1 + round % 3;
    std::vector<std::vector<float>> series(seriesCount, std::vector<float>(n));
    for (auto& one : series) {
      for (float& v : one) v = uniform(-150.0f, 0.0f);
    }
    if (round % 6 == 0) series[0][n / 2] = NAN;
    if (round % 7 == 0) series.back()[n / 3] = INFINITY;
    if (round % 8 == 0) series[0][n - 1] = -INFINITY;
    if (round % 10 == 0) series.back()[0] = -0.0f;
    if (round % 11 == 0 && seriesCount > 1) series[1].resize(n + 1, -60.0f);  // not one length: each alone
    std::vector<std::vector<DisplayPoint>> points(seriesCount, std::vector<DisplayPoint>(3, {1.0f, 1.0f}));
    std::vector<BandMapping::SplineSeries> jobs;
    for (size_t s = 0; s < seriesCount; ++s) jobs.push_back({series[s], &points[s]});
    together.splineVertexArraysFromData(jobs);
    for (size_t s = 0; s < seriesCount; ++s) {
      std::vector<DisplayPoint> expected;
      alone.splineVertexArrayFromData(series[s], expected);
      ASSERT_EQ(points[s].size(), expected.size()) << "round " << round << " series " << s;
      for (size_t k = 0; k < expected.size(); ++k) {
        ASSERT_TRUE(std::memcmp(&points[s][k], &expected[k], sizeof(DisplayPoint)) == 0 ||
                    (points[s][k].x == expected[k].x && std::isnan(points[s][k].y) && std::isnan(expected[k].y)))
            << "round " << round << " series " << s << " point " << k;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 50000u);
}

// Held series stop changing while the current trace goes on; a series whose support is unchanged
// gets its last points again. Every frame each destination must still hold what a fresh spline of
// its series gives: when only some series changed, when the scale or size changed under an
// unchanged series, when a destination was cleared or written by someone else between frames,
// when a series leaves the batch (its hold turned off) and comes back, and when the vertical range
// or the height changed under an unchanged series.
TEST(BandMapping, SeriesThatStopChangingKeepExactlyTheirSplinePoints) {
  UniformFloats uniform{77u};
  BandMapping together, alone;
  const size_t n = 1024;
  std::vector<float> current(n), maxima(n, -150.0f), minima(n, 0.0f);
  std::vector<DisplayPoint> mainPoints, maxPoints, minPoints;
  size_t compared = 0;
  for (int frame = 0; frame < 240; ++frame) {
    if (frame % 40 == 0) {
      const int32_t width = 300 + 17 * frame;
      for (BandMapping* mapping : {&together, &alone}) {
        mapping->setBackingSize(width, 400);
        mapping->setAreaParams({-130.0f, -10.0f});
        mapping->setScaleType(frame % 80 == 0 ? 0 : 1);
      }
    }
    // The vertical range and the height change the support of an unchanged series as well.
    if (frame % 40 == 20 || frame % 40 == 30) {
      for (BandMapping* mapping : {&together, &alone}) {
        mapping->setAreaParams(frame % 40 == 20 ? AreaParams{-120.0f, 0.0f} : AreaParams{-120.0f, -5.0f});
        mapping->setBackingSize(mapping->backingWidth(), frame % 40 == 20 ? 400 : 380);
      }
    }
    for (float& v : current) v = uniform(-140.0f, -20.0f);
    // The held series move on some frames only, and then in a few bins.
    if (frame % 7 == 0 || frame < 3) {
      for (size_t i = 0; i < n; ++i) {
        maxima[i] = std::max(maxima[i], current[i]);
        minima[i] = std::min(minima[i], current[i]);
      }
    }
    if (frame % 11 == 5) maxPoints.clear();
    if (frame % 13 == 6 && !minPoints.empty()) minPoints[minPoints.size() / 2].y += 5.0f;
    const bool holdMax = frame % 50 < 40, holdMin = frame % 30 >= 4;
    std::vector<BandMapping::SplineSeries> jobs{{current, &mainPoints}};
    if (holdMax) jobs.push_back({maxima, &maxPoints});
    if (holdMin) jobs.push_back({minima, &minPoints});
    together.splineVertexArraysFromData(jobs);
    for (const BandMapping::SplineSeries& job : jobs) {
      std::vector<DisplayPoint> expected;
      alone.splineVertexArrayFromData(job.series, expected);
      ASSERT_EQ(job.points->size(), expected.size()) << "frame " << frame;
      ASSERT_EQ(std::memcmp(job.points->data(), expected.data(), expected.size() * sizeof(DisplayPoint)), 0)
          << "frame " << frame;
      compared += expected.size();
    }
  }
  EXPECT_GT(compared, 100000u);
}
