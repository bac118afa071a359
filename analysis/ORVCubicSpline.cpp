#include "analysis/ORVCubicSpline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

uint64_t ORVCubicSpline::nextRevision() {
  static std::atomic<uint64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

void ORVCubicSpline::setPoints(const std::vector<Point>& input) {
  revision_ = nextRevision();
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
  size_t i = points_.size() - 1;
  while (i > 0 && points_[i].x > x) --i;
  const double t = x - points_[i].x;
  const double b = static_cast<float>(b_[i]);
  const double c = static_cast<float>(c_[i]);
  const double d = static_cast<float>(d_[i]);
  return points_[i].y + b * t + c * t * t + d * std::pow(t, 3.0);
}

void ORVCubicSpline::interpolateAscending(std::span<const double> xs, std::span<float> ys) const {
  const size_t count = std::min(xs.size(), ys.size());
  if (points_.empty()) {
    for (size_t k = 0; k < count; ++k) ys[k] = static_cast<float>(xs[k]);
    return;
  }
  const Point* points = points_.data();
  const size_t last = points_.size() - 1;
  size_t i = 0;
  // The segment's coefficients as interpolate reads them (through single precision).
  double b = 0.0, c = 0.0, d = 0.0;
  size_t loaded = SIZE_MAX;
  for (size_t k = 0; k < count; ++k) {
    const double x = xs[k];
    if (x != x) {  // not a number: no segment is below it; interpolate answers
      ys[k] = static_cast<float>(interpolate(x));
      continue;
    }
    if (i > 0 && x < points[i].x) i = 0;  // not ascending after all: search afresh
    while (i < last && points[i + 1].x <= x) ++i;
    // The points are sorted, so this is interpolate's segment: the highest point at or below x,
    // or the first when there is none.
    if (i != loaded) {
      b = static_cast<float>(b_[i]);
      c = static_cast<float>(c_[i]);
      d = static_cast<float>(d_[i]);
      loaded = i;
    }
    const double t = x - points[i].x;
    // interpolate's sum with t·t·t for pow(t, 3): the two cubes differ by at most 3 units in the
    // last place, so the sums by at most 2^-50 of the last term plus a rounding of each. When the
    // float rounding of every sum within twice that agrees, it is interpolate's float.
    const double cubicTerm = d * (t * t * t);
    const double y = points[i].y + b * t + c * t * t + cubicTerm;
    const double bound = std::fabs(cubicTerm) * 0x1p-49 + std::fabs(y) * 0x1p-50;
    const float low = static_cast<float>(y - bound);
    const float high = static_cast<float>(y + bound);
    ys[k] = low == high ? low : static_cast<float>(interpolate(x));
  }
}
