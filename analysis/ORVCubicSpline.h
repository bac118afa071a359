#pragma once
// A natural cubic spline through points: on the segment that starts at point j,
// y = y_j + b_j·t + c_j·t² + d_j·t³ with t = x − x_j. Used for calibration curves and to smooth
// the chart's line traces.
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

  const std::vector<Point>& points() const { return points_; }
  const std::vector<double>& b() const { return b_; }
  const std::vector<double>& c() const { return c_; }
  const std::vector<double>& d() const { return d_; }

 private:
  std::vector<Point> points_;
  std::vector<double> b_, c_, d_;
  std::vector<double> h_, alpha_, mu_, z_;  // scratch kept between rebuilds
};
