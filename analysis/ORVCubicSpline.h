#pragma once
// A natural cubic spline through points: on the segment that starts at point j,
// y = y_j + b_j·t + c_j·t² + d_j·t³ with t = x − x_j. Used for calibration curves and to smooth
// the chart's line traces.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class ORVCubicSpline {
 public:
  struct Point {
    double x = 0.0;
    double y = 0.0;
  };

  ORVCubicSpline() = default;
  // initWithPoints:
  explicit ORVCubicSpline(const std::vector<Point>& points) { setPoints(points); }

  // Rebuilds the coefficients. The points are sorted by x and points sharing an x are merged into
  // one at their mean y, so no segment has zero width. Reuses the spline's storage, so a spline
  // rebuilt every frame with as many points allocates nothing.
  void setPoints(const std::vector<Point>& points);

  // interpolate: with no points, x itself; below the first point the first segment's cubic; at
  // or above the last point that point's y.
  double interpolate(double x) const;

  // The same values as static_cast<float>(interpolate(x)) for each x, to the last bit, for x in
  // ascending order (a search from the previous segment instead of from the last point, and t³
  // by multiplication except where that could change the rounding to float).
  void interpolateAscending(std::span<const double> xs, std::span<float> ys) const;
  // The same for x = 0, step, 2·step, … (ys.size() of them), segment by segment.
  void interpolateEvery(double step, std::span<float> ys) const;

  // Changes every time the points are set; no two splines share one (see nextRevision).
  uint64_t revision() const { return revision_; }
  // A new number from a process-wide rising counter (also used by the calibrations).
  static uint64_t nextRevision();

  const std::vector<Point>& points() const { return points_; }
  const std::vector<double>& b() const { return b_; }
  const std::vector<double>& c() const { return c_; }
  const std::vector<double>& d() const { return d_; }

 private:
  std::vector<Point> points_;
  std::vector<double> b_, c_, d_;
  std::vector<double> h_, alpha_, mu_, z_;  // scratch kept between rebuilds
  std::vector<double> readB_, readC_, readD_;  // b, c, d as every use reads them: through float
  uint64_t revision_ = nextRevision();
};

// Natural cubic splines through one fixed, strictly increasing set of knot x, for up to kMaxSeries
// sets of knot y at once, each sampled at one fixed ascending set of x. Every sample is the float
// ORVCubicSpline would give, static_cast<float>(interpolate(x)) after setPoints with the same
// points, to the last bit: the arithmetic is the same, step for step.
//
// A chart's traces rebuild their splines every frame through knots whose x only change with the
// chart's layout: everything that depends only on the x (segment widths, the elimination factors of
// the tridiagonal system, which segment each sample falls in, its offset t in it and t³) is worked
// out once in setKnots, and the series of one frame share every step, side by side in the lanes of
// a vector, so that the serial chains of the solve run together.
class FixedKnotSplines {
 public:
  static constexpr size_t kMaxSeries = 4;

  // False (and nothing kept) unless there are at least two knots, strictly increasing and finite,
  // and the samples are finite and ascending.
  bool setKnots(std::span<const double> knotXs, std::span<const double> sampleXs);
  const std::vector<double>& knots() const { return x_; }
  const std::vector<double>& samples() const { return sampleX_; }

  // Knot y of series s (0 ≤ s < kMaxSeries) and knot i.
  void setY(size_t s, size_t i, double y) { y_[i][s] = y; }
  // Solves for the coefficients of the first `seriesCount` series and writes sample k of series s
  // to samples[s * samplePitch() + k]; `samples` holds seriesCount * samplePitch() floats (what lies
  // between one series' last sample and the next series is of no use).
  void evaluate(size_t seriesCount, std::span<float> samples);
  // Samples are computed kSampleBlock at a time.
  static constexpr size_t kSampleBlock = 4;
  size_t samplePitch() const { return sampleX_.size() + kSampleBlock; }

  using Lanes = std::array<double, kMaxSeries>;

 private:
  // Per knot, from the x alone.
  std::vector<double> x_, h_, threeOverH_, threeH_, l_, mu_;
  // Per sample: t = x − its segment's knot x, and pow(t, 3); per segment (knot), its first sample.
  std::vector<double> sampleX_, sampleT_, sampleCube_;
  std::vector<uint32_t> segmentFirst_;
  // Per knot, one lane per series.
  std::vector<Lanes> y_, z_, b_, c_, d_;
};
