#include "analysis/BandMapping.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/accelerate/VectorClones.h"

namespace {
constexpr double kTopFrequency = 22050.0;
constexpr double kLowestFrequency = 30.0;
constexpr double kLinearSpan = 22020.0;  // the linear axis runs from 30 Hz to 22,050 Hz
constexpr float kNoBucket = -10000.0f;

// The highest of n levels, ignoring levels that are not a number (they never raise the bucket:
// their y compares false); minus infinity for none. The highest value does not depend on the
// order it is looked for in, so eight lanes look at once.
SA_VECTOR_CLONES float highestLevel(const float* levels, size_t n) {
  typedef float Lanes __attribute__((vector_size(32)));
  constexpr float kNone = -std::numeric_limits<float>::infinity();
  size_t i = 0;
  float highest = kNone;
  if (n >= 16) {
    Lanes best = {kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone};
    for (; i + 8 <= n; i += 8) {
      Lanes v;
      std::memcpy(&v, levels + i, sizeof v);
      best = v > best ? v : best;
    }
    for (int lane = 0; lane < 8; ++lane) highest = best[lane] > highest ? best[lane] : highest;
  }
  for (; i < n; ++i) highest = levels[i] > highest ? levels[i] : highest;
  return highest;
}

// The first index of the highest level above floor, or -1. Each of eight lanes scans every eighth
// element as the one scan would (strictly greater replaces), so it holds the first index of its own
// highest; the first index of the highest overall is the smallest index among the lanes that hold
// that value.
SA_VECTOR_CLONES int64_t firstIndexOfHighest(const float* levels, size_t n, float floor) {
  typedef float Lanes __attribute__((vector_size(32)));
  typedef int32_t Indices __attribute__((vector_size(32)));
  float best = floor;
  int64_t index = -1;
  size_t i = 0;
  if (n >= 16 && n <= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    Lanes bestLanes = floor - Lanes{};
    Indices bestIndex = -1 - Indices{};
    Indices position = {0, 1, 2, 3, 4, 5, 6, 7};
    for (; i + 8 <= n; i += 8) {
      Lanes v;
      std::memcpy(&v, levels + i, sizeof v);
      const Indices greater = v > bestLanes;
      bestLanes = greater ? v : bestLanes;
      bestIndex = greater ? position : bestIndex;
      position += 8;
    }
    for (int lane = 0; lane < 8; ++lane) {
      if (bestIndex[lane] < 0) continue;
      if (bestLanes[lane] > best || (bestLanes[lane] == best && (index < 0 || bestIndex[lane] < index))) {
        best = bestLanes[lane];
        index = bestIndex[lane];
      }
    }
  }
  for (; i < n; ++i) {
    if (levels[i] > best) {
      best = levels[i];
      index = static_cast<int64_t>(i);
    }
  }
  return index;
}

// highestLevel of a run, the short runs of a thinned trace without the call.
inline float highestInRun(const float* levels, size_t n) {
  if (n >= 16) return highestLevel(levels, n);
  float highest = -std::numeric_limits<float>::infinity();
  for (size_t i = 0; i < n; ++i) highest = levels[i] > highest ? levels[i] : highest;
  return highest;
}

// The heights of the points of a kept layout: the highest level of the elements thinned away
// before each point and the point's own level, both through the vertical mapping (yForValue's
// arithmetic, for a positive, finite range), the point taking the greater. A loop of its own so
// that the divisions go eight at a time.
SA_VECTOR_CLONES void pointHeights(const float* runHighest, const float* own, size_t count, double minimum,
                                   double height, double range, float* heights) {
  for (size_t k = 0; k < count; ++k) {
    const float skipped = static_cast<float>((static_cast<double>(runHighest[k]) - minimum) * height / range);
    const float bucket = kNoBucket < skipped ? skipped : kNoBucket;
    const float y = static_cast<float>((static_cast<double>(own[k]) - minimum) * height / range);
    heights[k] = y < bucket ? bucket : y;
  }
}

// Whether the points of a and b have equal x, point by point (as floats compare: not a number
// equals nothing), and whether the knots are the points' x to the bit. They look at every point
// rather than stopping at the first difference, so that they vectorise: they nearly always agree.
SA_VECTOR_CLONES bool sameXs(const DisplayPoint* a, const DisplayPoint* b, size_t n) {
  int same = 1;
  for (size_t i = 0; i < n; ++i) same &= a[i].x == b[i].x;
  return same != 0;
}
SA_VECTOR_CLONES bool knotsAreXs(const float* knots, const DisplayPoint* points, size_t n) {
  int same = 1;
  for (size_t i = 0; i < n; ++i) same &= std::bit_cast<uint32_t>(knots[i]) == std::bit_cast<uint32_t>(points[i].x);
  return same != 0;
}

// Points from their x and y, in a loop that vectorises.
SA_VECTOR_CLONES void pairUp(const float* xs, const float* ys, size_t n, DisplayPoint* points) {
  for (size_t k = 0; k < n; ++k) {
    points[k].x = xs[k];
    points[k].y = ys[k];
  }
}

const std::vector<Octave>& emptyTable() {
  static const std::vector<Octave> empty;
  return empty;
}

const char* tableNameForScaleType(int32_t scaleType) {
  switch (scaleType) {
    case 2: return "1";
    case 3: return "1_3";
    case 4: return "1_6";
    default: return nullptr;
  }
}

// Whole part of a double as an index, clamped to [low, high] without ever converting a value that
// does not fit (NaN reads as low).
int64_t clampedIndex(double value, int64_t low, int64_t high) {
  if (!(value >= static_cast<double>(low))) return low;
  if (value >= static_cast<double>(high)) return high;
  return static_cast<int64_t>(value);
}

Value peakRecord(float volume, float frequency) {
  Value record = Value::object();
  record["volume"] = static_cast<double>(volume);
  record["frequency"] = static_cast<double>(frequency);
  return record;
}
}  // namespace

BandMapping::BandMapping(TableLoader loader) : loader_(loader ? loader : &Octave::parseOctavesResources) {}

int64_t BandMapping::indexOfHighest(std::span<const float> levels, float floor) {
  return firstIndexOfHighest(levels.data(), levels.size(), floor);
}

const std::vector<Octave>& BandMapping::octavesForScaleType(int32_t scaleType) {
  const char* name = tableNameForScaleType(scaleType);
  if (!name) return emptyTable();
  auto it = tables_.find(name);
  if (it == tables_.end()) it = tables_.emplace(name, loader_(name)).first;
  return it->second;
}

int32_t BandMapping::getOctavesCount() const {
  switch (scaleType_) {
    case 2: return 10;
    case 3: return 30;
    case 4: return 60;
    default: return 0;
  }
}

namespace {

// The bins a band covers, lo to hi inclusive (lo > hi: none). A band reaching past 22,050 Hz is cut
// at the last bin.
struct BinRange {
  int64_t lo;
  int64_t hi;
};
BinRange binRange(int64_t n, float lowFreq, float highFreq) {
  const double binsPerHz = static_cast<double>(n) / kTopFrequency;
  return {clampedIndex(std::floor(binsPerHz * static_cast<double>(lowFreq)), 0, n),
          clampedIndex(std::ceil(binsPerHz * static_cast<double>(highFreq)), -1, n - 1)};
}

// Adds a[0 … n − 1] to sumA and b[0 … n − 1] to sumB, each in order: two chains of additions,
// side by side, four steps of each at a time.
void sumTwoRuns(const float* a, const float* b, int64_t n, float& sumA, float& sumB) {
  float u = sumA, v = sumB;
  int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    u += a[i];
    v += b[i];
    u += a[i + 1];
    v += b[i + 1];
    u += a[i + 2];
    v += b[i + 2];
    u += a[i + 3];
    v += b[i + 3];
  }
  for (; i < n; ++i) {
    u += a[i];
    v += b[i];
  }
  sumA = u;
  sumB = v;
}

// The mean of a band from the float sum of its levels in bin order.
float meanOfSum(float sum, BinRange range) {
  if (range.lo > range.hi || sum == 0.0f) return 0.0f;
  return sum / static_cast<float>(range.hi - range.lo + 1);
}

}  // namespace

float BandMapping::bandMean(std::span<const float> levels, float lowFreq, float highFreq) {
  const int64_t n = static_cast<int64_t>(levels.size());
  if (n == 0) return 0.0f;
  const BinRange range = binRange(n, lowFreq, highFreq);
  float sum = 0.0f;
  for (int64_t i = range.lo; i <= range.hi; ++i) sum += levels[static_cast<size_t>(i)];
  return meanOfSum(sum, range);
}

void BandMapping::processData(std::span<const float> levels, std::vector<float>& series) {
  series.clear();
  if (!isBandScale()) {
    series.assign(levels.begin(), levels.end());
    return;
  }
  for (const Octave& band : getCurrentOctaves()) series.push_back(bandMean(levels, band.lowFreq(), band.highFreq()));
}

size_t BandMapping::fullOctaveOutput(std::span<const float> levels, std::array<float, kFullOctaveCount>& output) {
  const int64_t n = static_cast<int64_t>(levels.size());
  if (fullOctaveBins_ != n) {
    const std::vector<Octave>& table = octavesForScaleType(2);
    fullOctaveBands_ = std::min(table.size(), kFullOctaveCount);
    fullOctaveWidest_ = 0;
    fullOctaveRanges_.fill({});
    for (size_t k = 0; n > 0 && k < fullOctaveBands_; ++k) {
      const BinRange range = binRange(n, table[k].lowFreq(), table[k].highFreq());
      fullOctaveRanges_[k] = {range.lo, range.hi};
      const auto& widest = fullOctaveRanges_[fullOctaveWidest_];
      if (range.hi - range.lo > widest.hi - widest.lo) fullOctaveWidest_ = k;
    }
    fullOctaveBins_ = n;
  }
  const size_t bands = fullOctaveBands_;
  output.fill(0.0f);
  if (n == 0) {
    for (size_t k = 0; k < bands; ++k) output[k] = 0.0f + kFullOctaveOffsets[k];
    return bands;
  }
  // Each band's levels are summed in bin order, as bandMean does. A sum is a chain of additions,
  // each waiting for the one before; the widest band's chain runs beside the chains of the other
  // bands, one after another, in the same loop, so the two take the time of one.
  std::array<BinRange, kFullOctaveCount> ranges{};
  for (size_t k = 0; k < bands; ++k) ranges[k] = {fullOctaveRanges_[k].lo, fullOctaveRanges_[k].hi};
  std::array<float, kFullOctaveCount> sums{};
  const size_t widest = fullOctaveWidest_;
  const float* x = levels.data();
  float wide = 0.0f;
  int64_t next = ranges[widest].lo;
  const int64_t wideEnd = std::max(ranges[widest].hi + 1, next);  // one past its last bin
  for (size_t k = 0; k < bands; ++k) {
    if (k == widest) continue;
    float sum = 0.0f;
    const int64_t end = std::max(ranges[k].hi + 1, ranges[k].lo);
    int64_t i = ranges[k].lo;
    // The steps that advance both chains, in a loop without a branch in it.
    const int64_t together = std::min(end - i, wideEnd - next);
    sumTwoRuns(x + i, x + next, together, sum, wide);
    i += together;
    next += together;
    for (; i < end; ++i) sum += x[i];
    sums[k] = sum;
  }
  for (; next < wideEnd; ++next) wide += x[next];
  if (bands > 0) sums[widest] = wide;
  for (size_t k = 0; k < bands; ++k) output[k] = meanOfSum(sums[k], ranges[k]) + kFullOctaveOffsets[k];
  return bands;
}

bool BandMapping::includePointToGraph(int64_t index, int64_t length) const {
  if (isBandScale()) return true;
  if (length <= 0) return false;
  const float f = static_cast<float>(static_cast<double>(index) * (kTopFrequency / static_cast<double>(length)));
  return f >= static_cast<float>(kLowestFrequency);
}

float BandMapping::xForIndex(int64_t index, int64_t length, bool isFirst) const {
  const double width = backingWidth_;
  if (isBandScale()) {
    if (length <= 0) return 0.0f;
    return static_cast<float>((static_cast<double>(index) + 0.5) * (width / static_cast<double>(length)));
  }
  if (scaleType_ == 1 && index == 0) return 0.0f;
  float f = static_cast<float>(kLowestFrequency);
  if (!isFirst && length > 0) {
    f = static_cast<float>(static_cast<double>(index) * (kTopFrequency / static_cast<double>(length)));
  }
  if (scaleType_ == 1) {
    return static_cast<float>((std::log10(static_cast<double>(f)) - std::log10(kLowestFrequency)) *
                              (width / std::log10(kTopFrequency / kLowestFrequency)));
  }
  return static_cast<float>((static_cast<double>(f) - kLowestFrequency) * (width / kLinearSpan));
}


void BandMapping::vertexArrayDirect(std::span<const float> series, int32_t minDiff,
                                    std::vector<DisplayPoint>& points) const {
  points.clear();
  const int64_t m = static_cast<int64_t>(series.size());
  if (m == 0) return;
  const bool bands = isBandScale();
  if (bands) points.push_back({0.0f, yForValue(series[0])});
  float lastX = -100.0f;
  float bucket = kNoBucket;
  bool first = true;
  for (int64_t i = 0; i < m; ++i) {
    if (!includePointToGraph(i, m)) continue;
    const float x = xForIndex(i, m, first);
    const float y = yForValue(series[static_cast<size_t>(i)]);
    first = false;
    if (x - lastX > static_cast<float>(minDiff) || i == m - 1) {
      points.push_back({x, std::max(y, bucket)});
      bucket = kNoBucket;
      lastX = x;
    } else {
      bucket = std::max(bucket, y);
    }
  }
  if (bands) points.push_back({static_cast<float>(backingWidth_), yForValue(series[static_cast<size_t>(m - 1)])});
}

const BandMapping::VertexLayout& BandMapping::vertexLayout(int64_t m, int32_t minDiff) {
  for (const VertexLayout& layout : layouts_) {
    if (layout.length == m && layout.width == backingWidth_ && layout.scaleType == scaleType_ &&
        layout.minDiff == minDiff) {
      return layout;
    }
  }
  if (layouts_.size() < kKeptLayouts) layouts_.emplace_back();
  VertexLayout& layout = layouts_[nextLayout_ % layouts_.size()];
  nextLayout_ = (nextLayout_ + 1) % kKeptLayouts;
  layout.length = m;
  layout.width = backingWidth_;
  layout.scaleType = scaleType_;
  layout.minDiff = minDiff;
  layout.pointIndex.clear();
  layout.pointX.clear();
  // The thinning of vertexArrayDirect, which looks only at the positions. The drawn elements are
  // one run to the end: an element's frequency grows with its index.
  layout.firstDrawn = m;
  float lastX = -100.0f;
  for (int64_t i = 0; i < m; ++i) {
    if (!includePointToGraph(i, m)) continue;
    const bool first = layout.firstDrawn == m;
    if (first) layout.firstDrawn = i;
    const float x = xForIndex(i, m, first);
    if (x - lastX > static_cast<float>(minDiff) || i == m - 1) {
      layout.pointIndex.push_back(i);
      layout.pointX.push_back(x);
      lastX = x;
    }
  }
  return layout;
}

void BandMapping::vertexArrayFromData(std::span<const float> series, int32_t minDiff,
                                      std::vector<DisplayPoint>& points) {
  const int64_t m = static_cast<int64_t>(series.size());
  const double range = static_cast<double>(areaParams_.maxVal) - static_cast<double>(areaParams_.minVal);
  // With a rising vertical mapping the highest y of a run of elements is the y of their highest
  // level, so only the elements that get a point need the mapping. (A bottom of exactly 0 could
  // map a level of -0 to a y of -0; that rare case, and falling or flat mappings, go element by
  // element.)
  if (m == 0 || backingHeight_ <= 0 || !(range > 0.0) || std::isinf(range) || areaParams_.minVal == 0.0f) {
    vertexArrayDirect(series, minDiff, points);
    return;
  }
  const VertexLayout& layout = vertexLayout(m, minDiff);
  const bool bands = isBandScale();
  const size_t pointCount = layout.pointIndex.size();
  // Per point, the highest level of the elements thinned away before it and its own level.
  runHighest_.resize(pointCount);
  ownLevels_.resize(pointCount);
  heights_.resize(pointCount);
  const float* const levels = series.data();
  size_t from = static_cast<size_t>(layout.firstDrawn);
  for (size_t k = 0; k < pointCount; ++k) {
    const size_t end = static_cast<size_t>(layout.pointIndex[k]);
    runHighest_[k] = highestInRun(levels + from, end - from);
    ownLevels_[k] = levels[end];
    from = end + 1;
  }
  pointHeights(runHighest_.data(), ownLevels_.data(), pointCount, static_cast<double>(areaParams_.minVal),
               static_cast<double>(backingHeight_), range, heights_.data());
  points.resize(pointCount + (bands ? 2 : 0));
  DisplayPoint* out = points.data();
  if (bands) *out++ = {0.0f, yForValue(series[0])};
  for (size_t k = 0; k < pointCount; ++k) out[k] = {layout.pointX[k], heights_[k]};
  if (bands) points.back() = {static_cast<float>(backingWidth_), yForValue(series[static_cast<size_t>(m - 1)])};
}

namespace {
// The number of even x from 0 below lastX: the samples of a spline before its last support point
// (the direct count for any width a view can have).
size_t splineStepsBelow(double lastX) {
  size_t steps = lastX > 0.0 && lastX < 0x1p30 ? static_cast<size_t>(std::ceil(lastX / 2.0)) : 0;
  while (static_cast<double>(2 * static_cast<int64_t>(steps)) < lastX) ++steps;
  return steps;
}
}  // namespace

void BandMapping::splineVertexArrayFromData(std::span<const float> series, std::vector<DisplayPoint>& points) {
  points.clear();
  vertexArrayFromData(series, 10, supportPoints_);
  if (supportPoints_.empty()) return;
  const size_t supportCount = supportPoints_.size();
  splineInput_.resize(supportCount);
  for (size_t k = 0; k < supportCount; ++k) splineInput_[k] = {supportPoints_[k].x, supportPoints_[k].y};
  spline_.setPoints(splineInput_);
  // Every 2 pixels from 0 while left of the last support point, then that point itself.
  const double lastX = supportPoints_.back().x;
  const size_t steps = splineStepsBelow(lastX);
  splineYs_.resize(steps);
  spline_.interpolateEvery(2.0, splineYs_);
  points.resize(steps + 1);
  for (size_t k = 0; k < steps; ++k) points[k] = {static_cast<float>(2 * static_cast<int64_t>(k)), splineYs_[k]};
  const float endX = static_cast<float>(lastX);
  points[steps] = {endX, static_cast<float>(spline_.interpolate(endX))};
}

void BandMapping::splineVertexArraysFromData(std::span<const SplineSeries> series) {
  const size_t count = series.size();
  auto oneByOne = [&] {
    for (const SplineSeries& one : series) splineVertexArrayFromData(one.series, *one.points);
  };
  if (count == 0 || count > FixedKnotSplines::kMaxSeries) return oneByOne();
  // The support of a series is a function of the series and the settings alone: a series that is,
  // to the bit, the one its support was last made from, with the same settings, has that support
  // again. A held series stops changing once nothing exceeds it, and then costs a comparison.
  const std::array<uint32_t, 5> settings = supportKey();
  std::array<bool, FixedKnotSplines::kMaxSeries> sameSeries{};
  // Each series' support: its kept support where that is still its own (read in place), else made
  // afresh in batchSupport_.
  std::array<std::span<const DisplayPoint>, FixedKnotSplines::kMaxSeries> supports{};
  for (size_t s = 0; s < count; ++s) {
    const std::span<const float> values = series[s].series;
    const KeptSpline* kept = keptSplineOf(series[s].points);
    sameSeries[s] = kept && kept->hasSeries && kept->settings == settings && kept->series.size() == values.size() &&
                    (values.empty() || std::memcmp(kept->series.data(), values.data(), values.size_bytes()) == 0);
    if (sameSeries[s]) {
      supports[s] = kept->support;
    } else {
      vertexArrayFromData(values, 10, batchSupport_[s]);
      supports[s] = batchSupport_[s];
    }
  }
  // The support x depend only on the series length: series of one length share them.
  const std::span<const DisplayPoint> first = supports[0];
  const size_t knots = first.size();
  for (size_t s = 1; s < count; ++s) {
    const std::span<const DisplayPoint> other = supports[s];
    if (other.size() != knots || !sameXs(other.data(), first.data(), knots)) return oneByOne();
  }
  const bool same = splineKnots_.size() == knots && splines_.knots().size() == knots &&
                    knotsAreXs(splineKnots_.data(), first.data(), knots);
  if (!same) {
    splineKnots_.resize(knots);
    knotScratch_.resize(knots);
    for (size_t i = 0; i < knots; ++i) {
      splineKnots_[i] = first[i].x;
      knotScratch_[i] = first[i].x;
    }
    // Every 2 pixels from 0 while left of the last support point, then that point itself.
    const double lastX = knots > 0 ? knotScratch_.back() : 0.0;
    const size_t steps = splineStepsBelow(lastX);
    sampleScratch_.resize(steps + 1);
    for (size_t k = 0; k < steps; ++k) sampleScratch_[k] = static_cast<double>(k) * 2.0;
    sampleScratch_[steps] = lastX;
    if (!splines_.setKnots(knotScratch_, sampleScratch_)) {
      splineKnots_.clear();
      return oneByOne();
    }
    splineSampleXs_.resize(steps + 1);
    for (size_t k = 0; k <= steps; ++k) splineSampleXs_[k] = static_cast<float>(sampleScratch_[k]);
  }
  // The points are a function of the support points alone (their x are the knots, the samples
  // follow from the last of them): a series whose support is the one its points were last made
  // from, to the bit, gets those points again. A held series stops changing once nothing exceeds
  // it, and then costs a comparison instead of its spline. Each series left takes a lane of the
  // spline, in turn.
  std::array<size_t, FixedKnotSplines::kMaxSeries> laneSeries{};
  size_t lanes = 0;
  for (size_t s = 0; s < count; ++s) {
    const std::span<const DisplayPoint> support = supports[s];
    // (A series that is its kept series has its kept support: nothing to compare.)
    if (KeptSpline* kept = keptSplineOf(series[s].points);
        kept && (sameSeries[s] || sameDisplayPoints(kept->support, support))) {
      *series[s].points = kept->points;
      if (!sameSeries[s]) keepSeries(*kept, series[s].series, settings);
      kept->freshInARow = 0;
      continue;
    }
    // A spline merges its points' y as 0 + y (a single point per x).
    for (size_t i = 0; i < knots; ++i) splines_.setY(lanes, i, 0.0 + static_cast<double>(support[i].y));
    laneSeries[lanes++] = s;
  }
  if (lanes == 0) return;
  const size_t samples = splineSampleXs_.size();
  const size_t pitch = splines_.samplePitch();
  batchYs_.resize(lanes * pitch);
  splines_.evaluate(lanes, batchYs_);
  for (size_t lane = 0; lane < lanes; ++lane) {
    const size_t s = laneSeries[lane];
    std::vector<DisplayPoint>& points = *series[s].points;
    points.resize(samples);
    pairUp(splineSampleXs_.data(), batchYs_.data() + lane * pitch, samples, points.data());
    KeptSpline& kept = keepSplineOf(series[s].points);
    // A series that needs a new spline frame after frame (the current trace) is kept only now and
    // then: copies that no later frame uses would cost about as much as the comparisons save. One
    // that is not kept is looked for in vain and computed afresh, which gives the same points.
    ++kept.freshInARow;
    if (kept.freshInARow <= 2 || kept.freshInARow % kKeepEvery == 0) {
      kept.support.assign(supports[s].begin(), supports[s].end());  // batchSupport_[s]: computed above
      kept.points = points;
      keepSeries(kept, series[s].series, settings);
    } else {
      kept.support.clear();
      kept.hasSeries = false;
    }
  }
}

std::array<uint32_t, 5> BandMapping::supportKey() const {
  return {static_cast<uint32_t>(backingWidth_), static_cast<uint32_t>(backingHeight_), static_cast<uint32_t>(scaleType_),
          std::bit_cast<uint32_t>(areaParams_.minVal), std::bit_cast<uint32_t>(areaParams_.maxVal)};
}

void BandMapping::keepSeries(KeptSpline& kept, std::span<const float> values, const std::array<uint32_t, 5>& settings) {
  kept.series.assign(values.begin(), values.end());
  kept.settings = settings;
  kept.hasSeries = true;
}

bool BandMapping::sameDisplayPoints(std::span<const DisplayPoint> a, std::span<const DisplayPoint> b) {
  static_assert(sizeof(DisplayPoint) == 2 * sizeof(float), "display points compare as their bits");
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

BandMapping::KeptSpline* BandMapping::keptSplineOf(const std::vector<DisplayPoint>* owner) {
  for (KeptSpline& kept : keptSplines_) {
    if (kept.owner == owner) return &kept;
  }
  return nullptr;
}

BandMapping::KeptSpline& BandMapping::keepSplineOf(const std::vector<DisplayPoint>* owner) {
  if (KeptSpline* kept = keptSplineOf(owner)) return *kept;
  for (KeptSpline& kept : keptSplines_) {
    if (kept.owner == nullptr) {
      kept.owner = owner;
      return kept;
    }
  }
  KeptSpline& reused = keptSplines_[nextKeptSpline_];
  nextKeptSpline_ = (nextKeptSpline_ + 1) % keptSplines_.size();
  reused.owner = owner;
  reused.freshInARow = 0;
  return reused;
}

float BandMapping::getScale() const {
  const double width = backingWidth_;
  if (isBandScale()) return static_cast<float>(width);
  if (scaleType_ == 1) return static_cast<float>(width / std::log10(kTopFrequency / kLowestFrequency));
  return static_cast<float>(width / kLinearSpan);
}

float BandMapping::getFreqForX(float x, size_t seriesLength) const {
  const double s = (graphType_ == 0 || graphType_ == 1) ? getScale() : 1.0;
  // Before the view has a size every x maps to the axis start.
  const double position = s != 0.0 ? static_cast<double>(x) / s : 0.0;
  if (isBandScale()) return static_cast<float>(position * static_cast<double>(seriesLength));
  if (scaleType_ == 1) return static_cast<float>(std::pow(10.0, position + std::log10(kLowestFrequency)));
  return static_cast<float>(position + kLowestFrequency);
}

int64_t BandMapping::getIndexForX(float x, size_t seriesLength) const {
  const int64_t n = static_cast<int64_t>(seriesLength);
  double raw = getFreqForX(x, seriesLength);
  if (!isBandScale()) raw = static_cast<double>(n) / kTopFrequency * raw;
  // A negative index becomes 0, one of n or more n − 1 (so −1 for an empty series).
  const int64_t index = clampedIndex(std::trunc(raw), 0, std::max<int64_t>(n, 1));
  return index >= n ? n - 1 : index;
}

float BandMapping::getFreqMaximumForX(float x, size_t seriesLength) {
  if (isBandScale()) {
    const int64_t index = getIndexForX(x, seriesLength);
    const std::vector<Octave>& table = getCurrentOctaves();
    if (index <= 0 || index >= static_cast<int64_t>(table.size())) return 0.0f;
    return table[static_cast<size_t>(index)].midFreq();
  }
  const double s = getScale();
  const double position = s != 0.0 ? static_cast<double>(x) / s : 0.0;
  if (scaleType_ == 1) return static_cast<float>(std::pow(10.0, position + std::log10(kLowestFrequency)));
  return static_cast<float>(position + kLowestFrequency);
}

std::optional<Value> BandMapping::getValueByX(float x, std::span<const float> fftData) {
  const int64_t index = getIndexForX(x, fftData.size());
  if (index < 0 || index >= static_cast<int64_t>(fftData.size())) return std::nullopt;
  return peakRecord(fftData[static_cast<size_t>(index)], getFreqMaximumForX(x, fftData.size()));
}

Value BandMapping::recordAt(float x, std::span<const float> data, size_t seriesLength) {
  const int64_t index = getIndexForX(x, seriesLength);
  const float volume = index >= 0 && index < static_cast<int64_t>(data.size()) ? data[static_cast<size_t>(index)] : 0.0f;
  return peakRecord(volume, getFreqMaximumForX(x, seriesLength));
}

Value BandMapping::getValueMaximumByX(float x, std::span<const float> maxData, size_t seriesLength) {
  return recordAt(x, maxData, seriesLength);
}

Value BandMapping::getValueMinimumByX(float x, std::span<const float> minData, size_t seriesLength) {
  return recordAt(x, minData, seriesLength);
}

void BandMapping::setMarkerAt(float x, std::span<const DisplayPoint> points) {
  currentSelectedX_ = x;
  const size_t count = points.size();
  if (count < 2) return;
  if (x <= 0.0f) {
    markerPosition_ = -1.0f;
    return;
  }
  const bool bands = isBandScale();
  if (bands && x <= points[1].x) {
    markerPosition_ = -1.0f;
    return;
  }
  // On the band scales the last point closes the trace at the right edge; the last band is before it.
  const DisplayPoint& last = bands ? points[count - 2] : points[count - 1];
  if (x >= last.x) {
    markerPosition_ = last.x;
    return;
  }
  for (size_t i = 0; i + 1 < count; ++i) {
    // A touch right on a point selects it; comparing only strictly between neighbours would leave
    // the marker where it was for every touch that lands on a point.
    if (points[i].x == x) {
      markerPosition_ = x;
      return;
    }
    if (points[i].x < x && x < points[i + 1].x) {
      const float toLeft = x - points[i].x;
      const float toRight = points[i + 1].x - x;
      markerPosition_ = toLeft < toRight ? points[i].x : points[i + 1].x;
      return;
    }
  }
}
