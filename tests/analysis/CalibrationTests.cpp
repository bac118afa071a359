#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "analysis/Calibration.h"
#include "analysis/FrequencyWeighting.h"
#include "analysis/ORVCubicSpline.h"
#include "platform/foundation/NSPathUtilities.h"
#include "tests/support/LogCapture.h"

namespace {
Value points(std::initializer_list<std::pair<double, double>> list) {
  Value values = Value::array();
  for (auto [f, v] : list) values.push_back({{"frequency", f}, {"volume", v}, {"phase", 0}});
  return values;
}
}  // namespace

TEST(CalibrationText, ParsesPointsCommasAndOptionalPhase) {
  const Value values = Calibration::parseCalibrationText("100 -2.5 0\n1000 0 0\n10000 3,5");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_FLOAT_EQ(values[0]["frequency"].get<float>(), 100.0f);
  EXPECT_FLOAT_EQ(values[0]["volume"].get<float>(), -2.5f);
  EXPECT_TRUE(values[0].contains("phase"));
  EXPECT_FLOAT_EQ(values[2]["volume"].get<float>(), 3.5f);
  EXPECT_FALSE(values[2].contains("phase"));

  EXPECT_EQ(Calibration::parseCalibrationText("500\n\n1000 2").size(), 1u);  // one field, empty line
  const Value shifted = Calibration::parseCalibrationText("200  4 1");  // two spaces: an empty field
  ASSERT_EQ(shifted.size(), 1u);
  EXPECT_EQ(shifted[0]["volume"].get<float>(), 0.0f);
  EXPECT_EQ(shifted[0]["phase"].get<float>(), 4.0f);
  const Value words = Calibration::parseCalibrationText("abc def");
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(words[0]["frequency"].get<float>(), 0.0f);
}

TEST(CalibrationText, ReadsFilesByPathOrURLAndMissingFilesGiveNothing) {
  const std::string path = NSTemporaryDirectory() + "/calibration.txt";
  ns::createDirectory(NSTemporaryDirectory());
  std::ofstream(path) << "20 1.5\n20000 -1,25 3";
  EXPECT_EQ(Calibration::parseCalibrationValues(path).size(), 2u);
  const Value viaURL = Calibration::parseCalibrationValues("file://" + path);
  ASSERT_EQ(viaURL.size(), 2u);
  EXPECT_FLOAT_EQ(viaURL[1]["volume"].get<float>(), -1.25f);
  const Value missing = Calibration::parseCalibrationValues(path + ".absent");
  EXPECT_TRUE(missing.is_array());
  EXPECT_TRUE(missing.empty());
  LinearCalibration none(missing);
  EXPECT_EQ(none.getCorrectionForFrequency(1000.0f), 0.0f);
}

TEST(CalibrationText, FileURLsAreDecodedAsURLs) {
  const std::string dir = NSTemporaryDirectory() + "/cal dir";
  ASSERT_TRUE(ns::createDirectory(dir));
  const std::string path = dir + "/cal file.txt";
  std::ofstream(path) << "20 1.5\n20000 -1,25 3";
  EXPECT_EQ(Calibration::parseCalibrationValues(path).size(), 2u);
  std::string encoded;
  for (char c : path) encoded += c == ' ' ? std::string("%20") : std::string(1, c);
  EXPECT_EQ(Calibration::parseCalibrationValues("file://" + encoded).size(), 2u);
  EXPECT_EQ(Calibration::parseCalibrationValues("file://localhost" + encoded).size(), 2u);
  // A plain path is taken as it stands: here a file really named with an escape in it.
  const std::string literal = NSTemporaryDirectory() + "/cal%20file.txt";
  std::ofstream(literal) << "100 1\n";
  EXPECT_EQ(Calibration::parseCalibrationValues(literal).size(), 1u);
}

TEST(CalibrationText, AFileThatCannotBeReadIsReportedAndCorrectsNothing) {
  ns::createDirectory(NSTemporaryDirectory());
  struct Case {
    std::string address;
    std::string reason;
  };
  const std::string big = NSTemporaryDirectory() + "/big.txt";
  std::ofstream(big) << std::string(Calibration::kMaxCalibrationFileBytes + 1, '1');
  const std::string many = NSTemporaryDirectory() + "/many.txt";
  {
    std::ofstream out(many);
    for (size_t i = 0; i <= Calibration::kMaxCalibrationPoints; ++i) out << i << " 1\n";
  }
  for (const Case& c : {Case{NSTemporaryDirectory() + "/absent.txt", "no such file"},
                        Case{NSTemporaryDirectory(), "is a directory"},
                        Case{"file://server.example/cal.txt", "server.example"},
                        Case{"file:///tmp/cal%zz.txt", "escape"},
                        Case{big, "larger than"},
                        Case{many, "more than"}}) {
    testsupport::LogCapture log;
    const Value values = Calibration::parseCalibrationValues(c.address);
    EXPECT_TRUE(values.is_array() && values.empty()) << c.address;
    EXPECT_TRUE(log.contains("cannot be read")) << c.address;
    EXPECT_TRUE(log.contains(c.reason)) << c.address << ": " << ::testing::PrintToString(log.lines());
  }
}

TEST(LinearCalibration, InterpolatesInsideTheTableAndCorrectsNothingOutside) {
  LinearCalibration calibration(points({{100, -2}, {1000, 4}}));
  EXPECT_FLOAT_EQ(calibration.getCorrectionForFrequency(550.0f), 1.0f);
  EXPECT_FLOAT_EQ(calibration.getCorrectionForFrequency(100.0f), -2.0f);
  EXPECT_FLOAT_EQ(calibration.getCorrectionForFrequency(1000.0f), 4.0f);
  EXPECT_EQ(calibration.getCorrectionForFrequency(99.0f), 0.0f);
  EXPECT_EQ(calibration.getCorrectionForFrequency(1001.0f), 0.0f);
  EXPECT_EQ(calibration.cacheSize(), 1u);  // exact hits are not cached
  EXPECT_FLOAT_EQ(calibration.getCorrectionForFrequency(550.0f), 1.0f);

  LinearCalibration single(points({{1000, 6}}));
  EXPECT_EQ(single.getCorrectionForFrequency(1000.0f), 0.0f);
  Calibration base(points({{100, 3}, {200, 3}}));
  EXPECT_EQ(base.getCorrectionForFrequency(150.0f), 0.0f);

  Value noVolume = Value::array({Value{{"frequency", 100}}, Value{{"frequency", 300}, {"volume", 2}}});
  LinearCalibration missingKey(noVolume);
  EXPECT_FLOAT_EQ(missingKey.getCorrectionForFrequency(200.0f), 1.0f);
}

TEST(LinearCalibration, NewPointsClearTheCache) {
  LinearCalibration calibration(points({{100, 0}, {1000, 9}}));
  EXPECT_FLOAT_EQ(calibration.getCorrectionForFrequency(550.0f), 4.5f);
  calibration.setCalibrations(points({{100, 0}, {1000, -9}}));
  EXPECT_EQ(calibration.cacheSize(), 0u);
  EXPECT_FLOAT_EQ(calibration.getCorrectionForFrequency(550.0f), -4.5f);
  EXPECT_EQ(calibration.calibrations().size(), 2u);
}

TEST(ORVCubicSpline, NaturalSplineThroughPoints) {
  ORVCubicSpline spline({{0, 0}, {1, 1}, {2, 0}});
  EXPECT_NEAR(spline.interpolate(0.5), 0.6875, 1e-6);
  EXPECT_NEAR(spline.interpolate(1.0), 1.0, 1e-9);
  EXPECT_NEAR(spline.interpolate(1.5), 0.6875, 1e-6);
  EXPECT_EQ(spline.interpolate(5.0), 0.0);  // at or beyond the last point: its y
  ASSERT_EQ(spline.b().size(), 3u);
  EXPECT_EQ(spline.b()[2], 0.0);

  ORVCubicSpline line({{10, 1}, {20, 3}});
  EXPECT_NEAR(line.interpolate(15.0), 2.0, 1e-6);  // coefficients are kept in single precision
  EXPECT_NEAR(line.interpolate(12.5), 1.5, 1e-6);
  EXPECT_EQ(line.interpolate(30.0), 3.0);
  EXPECT_NEAR(line.interpolate(5.0), 0.0, 1e-6);  // below the first point the first segment continues

  ORVCubicSpline empty(std::vector<ORVCubicSpline::Point>{});
  EXPECT_EQ(empty.interpolate(42.0), 42.0);
}

TEST(ORVCubicSpline, UnsortedAndDuplicateXAreSortedAndMergedInsteadOfDividingByZero) {
  ORVCubicSpline spline({{2, 0}, {1, 0.5}, {0, 0}, {1, 1.5}});
  ASSERT_EQ(spline.points().size(), 3u);
  EXPECT_EQ(spline.points()[1].x, 1.0);
  EXPECT_EQ(spline.points()[1].y, 1.0);
  EXPECT_NEAR(spline.interpolate(0.5), 0.6875, 1e-6);

  ORVCubicSpline same({{4, 1}, {4, 3}, {4, 5}});
  EXPECT_EQ(same.points().size(), 1u);
  EXPECT_TRUE(std::isfinite(same.interpolate(2.0)));
}

TEST(CubicSplineCalibration, FollowsTheSplineAndAnEmptyCurveCorrectsByZero) {
  CubicSplineCalibration calibration(points({{1000, 0}, {2000, 1}, {3000, 0}}));
  EXPECT_NEAR(calibration.getCorrectionForFrequency(1500.0f), 0.6875f, 1e-5);
  EXPECT_NEAR(calibration.getCorrectionForFrequency(2000.0f), 1.0f, 1e-6);
  ASSERT_EQ(calibration.getCalibrationsPoints().size(), 3u);

  CubicSplineCalibration empty(Value::array());
  EXPECT_EQ(empty.getCorrectionForFrequency(1234.0f), 0.0f);

  CubicSplineCalibration messy(points({{3000, 0}, {1000, 0}, {2000, 0.5}, {2000, 1.5}}));
  EXPECT_NEAR(messy.getCorrectionForFrequency(1500.0f), 0.6875f, 1e-5);
  messy.setCalibrations(Value::array());
  EXPECT_EQ(messy.getCorrectionForFrequency(1500.0f), 0.0f);
}

namespace {
uint32_t nextRandom(uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  return seed >> 8;
}
double uniform(uint32_t& seed, double low, double high) {
  return low + (high - low) * static_cast<double>(nextRandom(seed)) / static_cast<double>(1u << 24);
}
bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

// The chart's smoothing evaluates hundreds of ascending x per frame; the cursor search and the
// multiplied cube must give interpolate's floats to the last bit.
TEST(ORVCubicSpline, AscendingEvaluationGivesInterpolatesFloatsExactly) {
  uint32_t seed = 11;
  size_t compared = 0;
  for (int round = 0; round < 300; ++round) {
    // Chart-like support points (pixels) and wilder ones: few points, wide ranges, duplicates.
    const size_t count = 1 + nextRandom(seed) % 120;
    const double scale = round % 3 == 0 ? 1e4 : (round % 3 == 1 ? 600.0 : 3.0);
    std::vector<ORVCubicSpline::Point> points(count);
    double x = uniform(seed, -scale, scale);
    for (auto& p : points) {
      x += round % 7 == 0 ? std::floor(uniform(seed, 0.0, 3.0)) : uniform(seed, 0.01, scale / 20);
      p = {x, uniform(seed, -scale, scale)};
    }
    const ORVCubicSpline spline(points);
    std::vector<double> xs;
    double at = points.front().x - uniform(seed, 0.0, scale / 4);
    while (at < points.back().x + scale / 4) {
      xs.push_back(at);
      at += round % 5 == 0 ? 2.0 : uniform(seed, 0.0, scale / 50);
    }
    xs.push_back(points.back().x);  // on the last point exactly
    if (round % 11 == 0) xs.insert(xs.begin() + static_cast<long>(xs.size() / 2), 1, points.front().x - 1.0);  // going back
    if (round % 13 == 0) xs.push_back(NAN);
    if (round % 17 == 0) xs.push_back(INFINITY);
    std::vector<float> fast(xs.size());
    spline.interpolateAscending(xs, fast);
    // Evenly spaced x from 0, segment by segment, as the chart samples its traces.
    const double step = round % 4 == 0 ? 2.0 : uniform(seed, 0.01, scale / 10);
    std::vector<float> even(static_cast<size_t>(std::max(0.0, (points.back().x + scale / 4) / step)) % 3000 + 1);
    spline.interpolateEvery(step, even);
    for (size_t k = 0; k < even.size(); ++k) {
      const float exact = static_cast<float>(spline.interpolate(static_cast<double>(k) * step));
      ASSERT_TRUE(sameBits(even[k], exact)) << "round " << round << " x " << k * step << ": " << even[k] << " vs " << exact;
    }
    for (size_t k = 0; k < xs.size(); ++k) {
      const float exact = static_cast<float>(spline.interpolate(xs[k]));
      ASSERT_TRUE(sameBits(fast[k], exact) || (std::isnan(fast[k]) && std::isnan(exact)))
          << "round " << round << " x " << xs[k] << ": " << fast[k] << " vs " << exact;
      ++compared;
    }
  }
  EXPECT_GT(compared, 10000u);

  const ORVCubicSpline none(std::vector<ORVCubicSpline::Point>{});
  std::vector<double> xs = {-1.0, 2.5};
  std::vector<float> ys(2);
  none.interpolateAscending(xs, ys);  // without points interpolate hands back x
  EXPECT_EQ(ys, (std::vector<float>{-1.0f, 2.5f}));
}

// Splines that keep their knot x and get new y every frame, several series side by side, must
// give each series' ORVCubicSpline floats to the last bit: below the first knot, on the knots,
// between them and beyond the last, whatever the y (not a number, infinities and -0 included).
TEST(FixedKnotSplines, EverySeriesGivesItsOwnSplinesFloatsExactly) {
  uint32_t seed = 29;
  FixedKnotSplines splines;
  size_t compared = 0;
  for (int round = 0; round < 200; ++round) {
    const size_t count = 2 + nextRandom(seed) % 120;
    const double scale = round % 3 == 0 ? 1e4 : (round % 3 == 1 ? 600.0 : 3.0);
    std::vector<double> knots(count);
    double x = uniform(seed, -scale, scale);
    for (double& knot : knots) {
      x += round % 7 == 0 ? 1.0 + std::floor(uniform(seed, 0.0, 3.0)) : uniform(seed, 0.01, scale / 20);
      knot = x;
    }
    std::vector<double> samples;
    for (double at = knots.front() - uniform(seed, 0.0, scale / 4); at < knots.back() + scale / 4;
         at += round % 4 == 0 ? 2.0 : uniform(seed, 0.0, scale / 40)) {
      samples.push_back(at);
      if (round % 5 == 0) samples.push_back(at);  // the same x twice
    }
    samples.push_back(knots.back() + scale);
    std::sort(samples.begin(), samples.end());
    if (round % 6 == 0) {  // every knot itself
      samples.insert(samples.end(), knots.begin(), knots.end());
      std::sort(samples.begin(), samples.end());
    }
    ASSERT_TRUE(splines.setKnots(knots, samples));
    // Several frames on the same knots, each with new y for up to four series.
    for (int frame = 0; frame < 3; ++frame) {
      const size_t series = 1 + nextRandom(seed) % FixedKnotSplines::kMaxSeries;
      std::vector<std::vector<ORVCubicSpline::Point>> points(series);
      for (size_t s = 0; s < series; ++s) {
        for (size_t i = 0; i < count; ++i) {
          double y = uniform(seed, -scale, scale);
          if (nextRandom(seed) % 200 == 0) {
            const double specials[] = {NAN, INFINITY, -INFINITY, -0.0, 0.0};
            y = specials[nextRandom(seed) % 5];
          }
          points[s].push_back({knots[i], y});
          splines.setY(s, i, y);
        }
      }
      std::vector<float> out(series * splines.samplePitch());
      splines.evaluate(series, out);
      for (size_t s = 0; s < series; ++s) {
        const ORVCubicSpline spline(points[s]);
        for (size_t k = 0; k < samples.size(); ++k) {
          const float exact = static_cast<float>(spline.interpolate(samples[k]));
          const float got = out[s * splines.samplePitch() + k];
          ASSERT_TRUE(sameBits(got, exact) || (std::isnan(got) && std::isnan(exact)))
              << "round " << round << " frame " << frame << " series " << s << " x " << samples[k] << ": " << got
              << " vs " << exact;
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 100000u);

  // Knots that ORVCubicSpline would have to sort or merge, or that are not numbers, are refused.
  const std::vector<double> fine = {0.0, 1.0, 2.0};
  EXPECT_TRUE(splines.setKnots(fine, std::vector<double>{-1.0, 0.5, 3.0}));
  EXPECT_FALSE(splines.setKnots(std::vector<double>{1.0}, std::vector<double>{0.0}));
  EXPECT_FALSE(splines.setKnots(std::vector<double>{0.0, 2.0, 1.0}, std::vector<double>{0.0}));
  EXPECT_FALSE(splines.setKnots(std::vector<double>{0.0, 1.0, 1.0}, std::vector<double>{0.0}));
  EXPECT_FALSE(splines.setKnots(std::vector<double>{0.0, NAN, 2.0}, std::vector<double>{0.0}));
  EXPECT_FALSE(splines.setKnots(fine, std::vector<double>{2.0, 1.0}));
  EXPECT_FALSE(splines.setKnots(fine, std::vector<double>{INFINITY}));
  EXPECT_TRUE(splines.knots().empty());
}

TEST(CalibrationTable, KeepsTheCorrectionsOfEveryBinUntilTheCalibrationChanges) {
  CalibrationTable table;
  auto linear = std::make_shared<LinearCalibration>(points({{20, -1.5}, {1000, 0.5}, {20000, 3}}));
  for (size_t n : {size_t{128}, size_t{1024}}) {
    const std::span<const float> corrections = table.corrections(linear.get(), n);
    ASSERT_EQ(corrections.size(), n);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(sameBits(corrections[i], linear->getCorrectionForFrequency(FrequencyWeighting::binFrequency(i, n))))
          << i;
    }
  }
  // New values, a new object, a new spline or its new points: the table follows.
  linear->setCalibrations(points({{100, 6}, {10000, -6}}));
  EXPECT_FLOAT_EQ(table.corrections(linear.get(), 1024)[200], linear->getCorrectionForFrequency(FrequencyWeighting::binFrequency(200, 1024)));
  auto spline = std::make_shared<CubicSplineCalibration>(points({{1000, 0}, {2000, 1}, {3000, 0}}));
  const float atBin = FrequencyWeighting::binFrequency(70, 1024);  // 1507 Hz
  EXPECT_EQ(table.corrections(spline.get(), 1024)[70], spline->getCorrectionForFrequency(atBin));
  spline->calibrationsSpline()->setPoints({{1000, 0}, {2000, -4}, {3000, 0}});
  EXPECT_EQ(table.corrections(spline.get(), 1024)[70], spline->getCorrectionForFrequency(atBin));
  EXPECT_LT(table.corrections(spline.get(), 1024)[70], -1.0f);
  spline->setCalibrationsSpline(std::make_shared<ORVCubicSpline>(std::vector<ORVCubicSpline::Point>{{0, 2}, {22050, 2}}));
  EXPECT_FLOAT_EQ(table.corrections(spline.get(), 1024)[70], 2.0f);
  // Without a calibration nothing is corrected.
  for (float correction : table.corrections(nullptr, 256)) ASSERT_EQ(correction, 0.0f);

  // Revisions never repeat, across objects and changes.
  Calibration a, b;
  EXPECT_NE(a.revision(), b.revision());
  const uint64_t before = a.revision();
  a.setCalibrations(Value::array());
  EXPECT_GT(a.revision(), before);
}
