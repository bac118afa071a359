#include "analysis/ORVCubicSpline.h"

#include "platform/accelerate/VectorClones.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

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

namespace {
constexpr size_t kLanes = FixedKnotSplines::kMaxSeries;
typedef double KnotLanes __attribute__((vector_size(sizeof(double) * kLanes)));
typedef float KnotFloatLanes __attribute__((vector_size(sizeof(float) * kLanes)));
typedef double TwoKnotLanes __attribute__((vector_size(sizeof(double) * 2)));
typedef float TwoKnotFloatLanes __attribute__((vector_size(sizeof(float) * 2)));

// Each lane through single precision and back, as the coefficients are read.
#define THROUGH_FLOAT(v) __builtin_convertvector(__builtin_convertvector((v), KnotFloatLanes), KnotLanes)

// The solve for the coefficients of the first series (as many as KnotLanes holds), side by side,
// lane s of every array of lanes (kLanes doubles per knot) being series s, so that the serial
// chains of the series run together. x-only arrays as FixedKnotSplines keeps them. The vectors stay
// local to the functions: passed by value, their ABI would depend on the instruction set. Each
// lane takes the same operations however many there are; the lanes past them are left as they were.
template <typename KnotLanes, typename KnotFloatLanes>
[[gnu::always_inline]] inline void solveLanes(size_t n, const double* h, const double* threeOverH, const double* threeH,
                                              const double* l, const double* mu, const double* yLanes, double* zLanes,
                                              double* bLanes, double* cLanes, double* dLanes) {
  auto load = [](KnotLanes& v, const double* at) { std::memcpy(&v, at, sizeof v); };
  auto store = [](double* at, const KnotLanes& v) { std::memcpy(at, &v, sizeof v); };
  // Forward elimination: only z depends on the y.
  KnotLanes zPrevious = {};
  store(zLanes, zPrevious);
  for (size_t i = 1; i + 1 < n; ++i) {
    KnotLanes yPrevious, y, yNext;
    load(yPrevious, yLanes + (i - 1) * kLanes);
    load(y, yLanes + i * kLanes);
    load(yNext, yLanes + (i + 1) * kLanes);
    const KnotLanes alpha = threeOverH[i] * (yNext - y) - threeOverH[i - 1] * (y - yPrevious);
    zPrevious = (alpha - h[i - 1] * zPrevious) / l[i];
    store(zLanes + i * kLanes, zPrevious);
  }
  // Back substitution, the coefficients read back through single precision as setPoints does.
  const KnotLanes zero = {};
  store(bLanes + (n - 1) * kLanes, zero);
  store(cLanes + (n - 1) * kLanes, zero);
  store(dLanes + (n - 1) * kLanes, zero);
  KnotFloatLanes cNext = {};
  for (size_t jj = n - 1; jj-- > 0;) {
    KnotLanes z, y, yNext;
    load(z, zLanes + jj * kLanes);
    load(y, yLanes + jj * kLanes);
    load(yNext, yLanes + (jj + 1) * kLanes);
    const KnotLanes c = z - mu[jj] * __builtin_convertvector(cNext, KnotLanes);
    const KnotFloatLanes cThis = __builtin_convertvector(c, KnotFloatLanes);
    const KnotFloatLanes sum = cNext + 2.0f * cThis;
    const KnotFloatLanes difference = cNext - cThis;
    const KnotLanes b = (yNext - y) / h[jj] - h[jj] * __builtin_convertvector(sum, KnotLanes) / 3.0;
    const KnotLanes d = __builtin_convertvector(difference, KnotLanes) / threeH[jj];
    store(bLanes + jj * kLanes, THROUGH_FLOAT(b));
    store(cLanes + jj * kLanes, THROUGH_FLOAT(c));
    store(dLanes + jj * kLanes, THROUGH_FLOAT(d));
    cNext = cThis;
  }
}

// All kLanes series, and the first two alone: the divisions dominate the solve, and a division of
// two lanes takes the divider half as long as one of four, so one or two series (the current trace
// while the held series keep their points) take the narrower one.
SA_VECTOR_CLONES void solve(size_t n, const double* h, const double* threeOverH, const double* threeH, const double* l,
                            const double* mu, const double* yLanes, double* zLanes, double* bLanes, double* cLanes,
                            double* dLanes) {
  solveLanes<KnotLanes, KnotFloatLanes>(n, h, threeOverH, threeH, l, mu, yLanes, zLanes, bLanes, cLanes, dLanes);
}
SA_VECTOR_CLONES void solveTwo(size_t n, const double* h, const double* threeOverH, const double* threeH,
                               const double* l, const double* mu, const double* yLanes, double* zLanes, double* bLanes,
                               double* cLanes, double* dLanes) {
  solveLanes<TwoKnotLanes, TwoKnotFloatLanes>(n, h, threeOverH, threeH, l, mu, yLanes, zLanes, bLanes, cLanes, dLanes);
}
#undef THROUGH_FLOAT

typedef double SampleBlock __attribute__((vector_size(sizeof(double) * FixedKnotSplines::kSampleBlock)));
typedef float SampleFloats __attribute__((vector_size(sizeof(float) * FixedKnotSplines::kSampleBlock)));
constexpr size_t kBlock = FixedKnotSplines::kSampleBlock;

// The samples, each interpolate's own sum in its order, y0 + b·t + c·t·t + d·t³, with t and t³
// (pow(t, 3)) kept from the set-up: the same operations on the same numbers, so the same floats. A
// segment's samples go kBlock at a time; a block's lanes past the segment's last sample compute
// nothing of use and are written over by the next segment (or fall into the padding after the
// last sample).
SA_VECTOR_CLONES void sampleSegments(size_t n, const uint32_t* segmentFirst, const double* sampleT,
                                     const double* sampleCube, const double* yLanes, const double* bLanes,
                                     const double* cLanes, const double* dLanes, size_t seriesCount, float* samples,
                                     size_t pitch) {
  // (Series by series within a segment, so that a series' four coefficients are loaded once for
  // all the segment's blocks.)
  for (size_t i = 0; i < n; ++i) {
    const size_t begin = segmentFirst[i], end = segmentFirst[i + 1];
    for (size_t s = 0; s < seriesCount; ++s) {
      const double y0 = yLanes[i * kLanes + s], b = bLanes[i * kLanes + s], c = cLanes[i * kLanes + s],
                   d = dLanes[i * kLanes + s];
      float* const out = samples + s * pitch;
      for (size_t k0 = begin; k0 < end; k0 += kBlock) {
        SampleBlock t, cube;
        std::memcpy(&t, sampleT + k0, sizeof t);
        std::memcpy(&cube, sampleCube + k0, sizeof cube);
        const SampleFloats y = __builtin_convertvector(y0 + b * t + c * t * t + d * cube, SampleFloats);
        std::memcpy(out + k0, &y, sizeof y);
      }
    }
  }
}
}  // namespace

bool FixedKnotSplines::setKnots(std::span<const double> knotXs, std::span<const double> sampleXs) {
  x_.clear();
  sampleX_.clear();
  const size_t n = knotXs.size();
  if (n < 2) return false;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(knotXs[i]) || (i > 0 && !(knotXs[i - 1] < knotXs[i]))) return false;
  }
  for (size_t k = 0; k < sampleXs.size(); ++k) {
    if (!std::isfinite(sampleXs[k]) || (k > 0 && sampleXs[k] < sampleXs[k - 1])) return false;
  }
  x_.assign(knotXs.begin(), knotXs.end());
  // The x-only steps of ORVCubicSpline::setPoints, in its order.
  h_.assign(n - 1, 0.0);
  threeOverH_.assign(n - 1, 0.0);
  threeH_.assign(n - 1, 0.0);
  for (size_t i = 0; i + 1 < n; ++i) {
    h_[i] = x_[i + 1] - x_[i];
    threeOverH_[i] = 3.0 / h_[i];
    threeH_[i] = 3.0 * h_[i];
  }
  l_.assign(n, 0.0);
  mu_.assign(n, 0.0);
  for (size_t i = 1; i + 1 < n; ++i) {
    l_[i] = 2.0 * (x_[i + 1] - x_[i - 1]) - h_[i - 1] * mu_[i - 1];
    mu_[i] = h_[i] / l_[i];
  }
  // Each sample's segment is interpolate's: the last knot at or left of it, the first for those
  // left of every knot.
  // Padded by a block, which sampling may read past the last sample.
  const size_t count = sampleXs.size();
  sampleX_.assign(sampleXs.begin(), sampleXs.end());
  sampleT_.assign(count + kSampleBlock, 0.0);
  sampleCube_.assign(count + kSampleBlock, 0.0);
  segmentFirst_.assign(n + 1, static_cast<uint32_t>(count));
  size_t segment = 0;
  segmentFirst_[0] = 0;
  for (size_t k = 0; k < count; ++k) {
    while (segment + 1 < n && x_[segment + 1] <= sampleXs[k]) segmentFirst_[++segment] = static_cast<uint32_t>(k);
    const double t = sampleXs[k] - x_[segment];
    sampleT_[k] = t;
    sampleCube_[k] = std::pow(t, 3.0);
  }
  while (segment + 1 < n) segmentFirst_[++segment] = static_cast<uint32_t>(count);
  const Lanes zero{};
  y_.assign(n, zero);
  z_.assign(n, zero);
  b_.assign(n, zero);
  c_.assign(n, zero);
  d_.assign(n, zero);
  return true;
}

void FixedKnotSplines::evaluate(size_t seriesCount, std::span<float> samples) {
  const size_t n = x_.size();
  seriesCount = std::min(seriesCount, kMaxSeries);
  if (n < 2 || samples.size() < seriesCount * samplePitch()) return;
  (seriesCount <= 2 ? solveTwo : solve)(n, h_.data(), threeOverH_.data(), threeH_.data(), l_.data(), mu_.data(),
                                        y_[0].data(), z_[0].data(), b_[0].data(), c_[0].data(), d_[0].data());
  sampleSegments(n, segmentFirst_.data(), sampleT_.data(), sampleCube_.data(), y_[0].data(), b_[0].data(),
                 c_[0].data(), d_[0].data(), seriesCount, samples.data(), samplePitch());
}
