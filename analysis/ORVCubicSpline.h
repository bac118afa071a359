#pragma once
// A natural cubic spline through points: on the segment that starts at point j,
// y = y_j + b_j·t + c_j·t² + d_j·t³ with t = x − x_j. Used for calibration curves and to smooth
// the chart's line traces.
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
