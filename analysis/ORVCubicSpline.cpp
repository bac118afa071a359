#include "analysis/ORVCubicSpline.h"

#include "platform/accelerate/VectorClones.h"

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
  readB_.assign(n, 0.0);
  readC_.assign(n, 0.0);
  readD_.assign(n, 0.0);
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
  for (size_t j = 0; j < n; ++j) {
    readB_[j] = static_cast<float>(b_[j]);
    readC_[j] = static_cast<float>(c_[j]);
    readD_[j] = static_cast<float>(d_[j]);
  }
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

namespace {

// interpolate's sum with t·t·t for pow(t, 3), for arrays of segment values (b, c, d as
// interpolate reads them, through single precision). The two cubes differ by at most 3 units in
// the last place, so the sums by at most 2^-50 of the last term plus a rounding of each: when the
// float roundings of the two ends of twice that span agree (low == high), that float is
// interpolate's. Not a number never agrees.
SA_VECTOR_CLONES void cubicFloats(const double* t, const double* y0, const double* b, const double* c,
                                  const double* d, float* low, float* high, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    const double tk = t[k];
    const double cubicTerm = d[k] * (tk * tk * tk);
    const double y = y0[k] + b[k] * tk + c[k] * tk * tk + cubicTerm;
    const double bound = std::fabs(cubicTerm) * 0x1p-49 + std::fabs(y) * 0x1p-50;
    low[k] = static_cast<float>(y - bound);
    high[k] = static_cast<float>(y + bound);
  }
}

// The same for the x = first·step, (first + 1)·step, … of one segment (x0, y0, b, c, d), into ys;
// returns whether every one agreed.
SA_VECTOR_CLONES bool cubicFloatsOfSegment(double x0, double y0, double b, double c, double d, double step,
                                           size_t first, size_t n, float* ys) {
  int agreed = 1;
  for (size_t k = 0; k < n; ++k) {
    const double tk = static_cast<double>(first + k) * step - x0;
    const double cubicTerm = d * (tk * tk * tk);
    const double y = y0 + b * tk + c * tk * tk + cubicTerm;
    const double bound = std::fabs(cubicTerm) * 0x1p-49 + std::fabs(y) * 0x1p-50;
    const float low = static_cast<float>(y - bound);
    const float high = static_cast<float>(y + bound);
    ys[k] = low;
    agreed &= low == high;
  }
  return agreed != 0;
}

}  // namespace

void ORVCubicSpline::interpolateEvery(double step, std::span<float> ys) const {
  const size_t count = ys.size();
  if (points_.empty() || !(step > 0.0) || !std::isfinite(step)) {
    for (size_t k = 0; k < count; ++k) ys[k] = static_cast<float>(interpolate(static_cast<double>(k) * step));
    return;
  }
  const size_t last = points_.size() - 1;
  size_t k = 0;
  for (size_t i = 0; i <= last && k < count; ++i) {
    // This segment takes the x below the next point (all the rest for the last point; the x
    // below the first point belong to the first segment, as in interpolate).
    size_t end = k;
    if (i == last) {
      end = count;
    } else {
      const double next = points_[i + 1].x;
      while (end < count && static_cast<double>(end) * step < next) ++end;
    }
    if (end == k) continue;
    if (!cubicFloatsOfSegment(points_[i].x, points_[i].y, readB_[i], readC_[i], readD_[i], step, k, end - k, &ys[k])) {
      for (size_t j = k; j < end; ++j) {
        const double x = static_cast<double>(j) * step;
        // Recomputed as interpolate does where the fast float could differ.
        const double t = x - points_[i].x;
        const double cubicTerm = readD_[i] * (t * t * t);
        const double y = points_[i].y + readB_[i] * t + readC_[i] * t * t + cubicTerm;
        const double bound = std::fabs(cubicTerm) * 0x1p-49 + std::fabs(y) * 0x1p-50;
        if (static_cast<float>(y - bound) != static_cast<float>(y + bound)) ys[j] = static_cast<float>(interpolate(x));
      }
    }
    k = end;
  }
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
  // A block of x at a time: find each one's segment, then evaluate the block in one loop.
  constexpr size_t kBlock = 64;
  double t[kBlock], y0[kBlock], b[kBlock], c[kBlock], d[kBlock];
  float low[kBlock], high[kBlock];
  for (size_t start = 0; start < count; start += kBlock) {
    const size_t length = std::min(kBlock, count - start);
    for (size_t k = 0; k < length; ++k) {
      const double x = xs[start + k];
      if (i > 0 && x < points[i].x) i = 0;  // not ascending after all: search afresh
      while (i < last && points[i + 1].x <= x) ++i;
      // The points are sorted, so this is interpolate's segment: the highest point at or below x,
      // or the first when there is none. (Not a number finds none; its t is not a number.)
      t[k] = x - points[i].x;
      y0[k] = points[i].y;
      b[k] = readB_[i];
      c[k] = readC_[i];
      d[k] = readD_[i];
    }
    cubicFloats(t, y0, b, c, d, low, high, length);
    for (size_t k = 0; k < length; ++k) {
      ys[start + k] = low[k] == high[k] ? low[k] : static_cast<float>(interpolate(xs[start + k]));
    }
  }
}
