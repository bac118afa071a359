#include "analysis/ORVCubicSpline.h"

#include <algorithm>
#include <cmath>

void ORVCubicSpline::setPoints(const std::vector<Point>& input) {
  points_.assign(input.begin(), input.end());
  if (!std::is_sorted(points_.begin(), points_.end(),
                      [](const Point& a, const Point& b) { return a.x < b.x; })) {
    std::stable_sort(points_.begin(), points_.end(),
                     [](const Point& a, const Point& b) { return a.x < b.x; });
  }
  // Merge runs of equal x into their mean, in place.
  size_t out = 0;
  for (size_t i = 0; i < points_.size();) {
    size_t j = i;
    double sum = 0.0;
    while (j < points_.size() && points_[j].x == points_[i].x) sum += points_[j++].y;
    points_[out++] = Point{points_[i].x, sum / static_cast<double>(j - i)};
    i = j;
  }
  points_.resize(out);

  const size_t n = points_.size();
  b_.assign(n, 0.0);
  c_.assign(n, 0.0);
  d_.assign(n, 0.0);
  if (n < 2) return;

  h_.assign(n - 1, 0.0);
  for (size_t i = 0; i + 1 < n; ++i) h_[i] = points_[i + 1].x - points_[i].x;
  alpha_.assign(n, 0.0);
  for (size_t i = 1; i + 1 < n; ++i) {
    alpha_[i] = 3.0 / h_[i] * (points_[i + 1].y - points_[i].y) -
                3.0 / h_[i - 1] * (points_[i].y - points_[i - 1].y);
  }
  mu_.assign(n, 0.0);
  z_.assign(n, 0.0);
  for (size_t i = 1; i + 1 < n; ++i) {
    const double l = 2.0 * (points_[i + 1].x - points_[i - 1].x) - h_[i - 1] * mu_[i - 1];
    mu_[i] = h_[i] / l;
    z_[i] = (alpha_[i] - h_[i - 1] * z_[i - 1]) / l;
  }
  z_[n - 1] = 0.0;
  // The coefficients are read back in single precision wherever they are used again, as the
  // curves this spline has always drawn were computed.
  for (size_t jj = n - 1; jj-- > 0;) {
    const float cNext = static_cast<float>(c_[jj + 1]);
    c_[jj] = z_[jj] - mu_[jj] * cNext;
    const float cThis = static_cast<float>(c_[jj]);
    const float sum = cNext + 2.0f * cThis;
    const float difference = cNext - cThis;
    b_[jj] = (points_[jj + 1].y - points_[jj].y) / h_[jj] - h_[jj] * sum / 3.0;
    d_[jj] = difference / (3.0 * h_[jj]);
  }
  c_[n - 1] = 0.0;
}

double ORVCubicSpline::interpolate(double x) const {
  if (points_.empty()) return x;
  // The segment of the last point at or left of x (the first one left of all points, the last one
  // for NaN): the points are sorted, so a binary search finds it. A chart asks for every bin of
  // every frame, and a calibration can have thousands of points.
  const auto after = std::upper_bound(points_.begin(), points_.end(), x,
                                      [](double value, const Point& p) { return value < p.x; });
  size_t i = after == points_.begin() ? 0 : size_t(after - points_.begin()) - 1;
  const double t = x - points_[i].x;
  const double b = static_cast<float>(b_[i]);
  const double c = static_cast<float>(c_[i]);
  const double d = static_cast<float>(d_[i]);
  return points_[i].y + b * t + c * t * t + d * std::pow(t, 3.0);
}
