#include "analysis/BandMapping.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kTopFrequency = 22050.0;
constexpr double kLowestFrequency = 30.0;
constexpr double kLinearSpan = 22020.0;  // the linear axis runs from 30 Hz to 22,050 Hz
constexpr float kNoBucket = -10000.0f;

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

float BandMapping::bandMean(std::span<const float> levels, float lowFreq, float highFreq) {
  const int64_t n = static_cast<int64_t>(levels.size());
  if (n == 0) return 0.0f;
  const double binsPerHz = static_cast<double>(n) / kTopFrequency;
  const int64_t lo = clampedIndex(std::floor(binsPerHz * static_cast<double>(lowFreq)), 0, n);
  const int64_t hi = clampedIndex(std::ceil(binsPerHz * static_cast<double>(highFreq)), -1, n - 1);
  if (lo > hi) return 0.0f;
  float sum = 0.0f;
  for (int64_t i = lo; i <= hi; ++i) sum += levels[static_cast<size_t>(i)];
  if (sum == 0.0f) return 0.0f;
  return sum / static_cast<float>(hi - lo + 1);
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
  const std::vector<Octave>& table = octavesForScaleType(2);
  const size_t bands = std::min(table.size(), kFullOctaveCount);
  output.fill(0.0f);
  for (size_t k = 0; k < bands; ++k) {
    output[k] = bandMean(levels, table[k].lowFreq(), table[k].highFreq()) + kFullOctaveOffsets[k];
  }
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

float BandMapping::yForValue(float value) const {
  const double range = static_cast<double>(areaParams_.maxVal) - static_cast<double>(areaParams_.minVal);
  if (range == 0.0) return 0.0f;
  return static_cast<float>((static_cast<double>(value) - areaParams_.minVal) * backingHeight_ / range);
}

void BandMapping::vertexArrayFromData(std::span<const float> series, int32_t minDiff,
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

void BandMapping::splineVertexArrayFromData(std::span<const float> series, std::vector<DisplayPoint>& points) {
  points.clear();
  vertexArrayFromData(series, 10, supportPoints_);
  if (supportPoints_.empty()) return;
  splineInput_.clear();
  for (const DisplayPoint& p : supportPoints_) splineInput_.push_back({p.x, p.y});
  spline_.setPoints(splineInput_);
  const double lastX = supportPoints_.back().x;
  for (int64_t x = 0; static_cast<double>(x) < lastX; x += 2) {
    points.push_back({static_cast<float>(x), static_cast<float>(spline_.interpolate(static_cast<double>(x)))});
  }
  const float endX = static_cast<float>(lastX);
  points.push_back({endX, static_cast<float>(spline_.interpolate(endX))});
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
