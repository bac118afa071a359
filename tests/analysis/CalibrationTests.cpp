#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "analysis/Calibration.h"
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
