#pragma once
// How a spectrum view turns one frame's calibrated bin levels into what it shows: band means for
// the octave scales, the ten full-octave levels, the horizontal mapping of bins and bands to
// pixels (linear, logarithmic and band scales), thinning into display points, spline smoothing,
// and the queries that go from a pixel to an index, a frequency and a value.
//
// Bin i of n stands at i × 22050 / n Hz. Scale types: 0 linear, 1 logarithmic, 2 full octaves
// (table "1"), 3 third octaves ("1_3"), 4 sixth octaves ("1_6"). Points are renderbuffer pixels,
// x from the left edge, y from the bottom edge. The band tables are read once per table name and
// kept; the per-frame operations write into caller-owned vectors and allocate nothing once those
// have grown to the frame's size.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/AreaParams.h"
#include "analysis/ORVCubicSpline.h"
#include "analysis/Octave.h"
#include "platform/foundation/Value.h"

struct DisplayPoint {
  float x = 0.0f;
  float y = 0.0f;
};

class BandMapping {
 public:
  static constexpr size_t kFullOctaveCount = 10;
  // Added to the ten full-octave band means, in band order (dB).
  static constexpr std::array<float, kFullOctaveCount> kFullOctaveOffsets = {
      140.2339f, 135.89854f, 134.64954f, 134.74522f, 135.80695f,
      136.38951f, 137.63363f, 141.29194f, 140.0f, 155.4224f};

  // Reads band tables through Octave::parseOctavesResources unless a loader is given (tests).
  using TableLoader = std::vector<Octave> (*)(const std::string& name);
  explicit BandMapping(TableLoader loader = nullptr);

  // The view's settings the mapping depends on.
  int32_t scaleType() const { return scaleType_; }
  void setScaleType(int32_t scaleType) { scaleType_ = scaleType; }
  int32_t graphType() const { return graphType_; }
  void setGraphType(int32_t graphType) { graphType_ = graphType; }
  int32_t backingWidth() const { return backingWidth_; }
  int32_t backingHeight() const { return backingHeight_; }
  void setBackingSize(int32_t width, int32_t height) {
    backingWidth_ = width;
    backingHeight_ = height;
  }
  AreaParams areaParams() const { return areaParams_; }
  void setAreaParams(AreaParams params) { areaParams_ = params; }
  bool isBandScale() const { return scaleType_ >= 2 && scaleType_ <= 4; }

  // The band table of a scale type ("1", "1_3", "1_6"; empty for 0, 1 and anything else), and of
  // the current scale type.
  const std::vector<Octave>& octavesForScaleType(int32_t scaleType);
  const std::vector<Octave>& getCurrentOctaves() { return octavesForScaleType(scaleType_); }
  // The nominal band count: 10, 30, 60 for scale types 2, 3, 4; 0 otherwise.
  int32_t getOctavesCount() const;

  // The mean of the dB levels of the bins a band covers; 0 for a band that covers no bin or whose
  // levels sum to exactly 0. A band reaching past 22,050 Hz is cut at the last bin.
  static float bandMean(std::span<const float> levels, float lowFreq, float highFreq);

  // The current series: the levels themselves on scales 0 and 1, one band mean per band of the
  // current table on the band scales.
  void processData(std::span<const float> levels, std::vector<float>& series);
  // The ten full-octave levels (band mean of table "1" plus its offset). Bands missing from a
  // short table read 0. Returns the number of bands the table had, up to ten.
  size_t fullOctaveOutput(std::span<const float> levels, std::array<float, kFullOctaveCount>& output);

  // Whether element `index` of a list of `length` is drawn: on scales 0 and 1 only from 30 Hz up.
  bool includePointToGraph(int64_t index, int64_t length) const;
  // x of element `index` of a list of `length`; `isFirst` puts it at the 30 Hz edge on scales 0, 1.
  float xForIndex(int64_t index, int64_t length, bool isFirst) const;
  // y of a level: (value − minimum) × height / (maximum − minimum), not clamped.
  float yForValue(float value) const {
    const double range = static_cast<double>(areaParams_.maxVal) - static_cast<double>(areaParams_.minVal);
    if (range == 0.0) return 0.0f;
    return static_cast<float>((static_cast<double>(value) - areaParams_.minVal) * backingHeight_ / range);
  }

  // Display points of a series, at least `minDiff` pixels apart; a point carries the highest y of
  // the elements thinned away before it. An empty series gives no points. Which elements get a
  // point and where depends only on the series length, the width, the scale and the spacing; that
  // is worked out once per combination and kept, and a frame only finds each point's height.
  void vertexArrayFromData(std::span<const float> series, int32_t minDiff, std::vector<DisplayPoint>& points);
  // A natural cubic spline through the series' points 10 pixels apart, sampled every 2 pixels.
  void splineVertexArrayFromData(std::span<const float> series, std::vector<DisplayPoint>& points);
  // splineVertexArrayFromData of several series at once, each into its own points (the same points
  // to the last bit). Series of one length share their support x, and with them the spline's set-up
  // and solve: the current trace and the held series of a frame take little more than one.
  struct SplineSeries {
    std::span<const float> series;
    std::vector<DisplayPoint>* points;
  };
  void splineVertexArraysFromData(std::span<const SplineSeries> series);

  // The first index of the highest level above `floor` (not a number never counts), -1 for none:
  // what a scan that takes an element only when it is strictly greater than the best so far,
  // starting from `floor`, ends with.
  static int64_t indexOfHighest(std::span<const float> levels, float floor);

  // Pixels per unit of the horizontal axis.
  float getScale() const;
  // The axis value at x (Hz on scales 0 and 1, a fractional band position on the band scales) for
  // a current series of `seriesLength` elements.
  float getFreqForX(float x, size_t seriesLength) const;
  // Index into the current series at x, clamped into 0 … seriesLength − 1 (−1 for an empty series).
  int64_t getIndexForX(float x, size_t seriesLength) const;
  // The frequency reported for x: the band's centre on the band scales (0 for the first band and
  // past the table), else the axis frequency.
  float getFreqMaximumForX(float x, size_t seriesLength);
  // {"volume", "frequency"} of the current series at x; none when the series is empty.
  std::optional<Value> getValueByX(float x, std::span<const float> fftData);
  // The same for the held series; volume 0 where the held list is shorter. Always a record.
  Value getValueMaximumByX(float x, std::span<const float> maxData, size_t seriesLength);
  Value getValueMinimumByX(float x, std::span<const float> minData, size_t seriesLength);

  // Snaps the marker to the nearest display point of the current series (hides it at x ≤ 0 and,
  // on the band scales, at or left of the first band).
  void setMarkerAt(float x, std::span<const DisplayPoint> mainData);
  bool isMarkerVisible() const { return markerPosition_ > 0.0f; }
  float markerPosition() const { return markerPosition_; }
  void setMarkerPosition(float x) { markerPosition_ = x; }
  float getCurrentX() const { return currentSelectedX_; }
  // Forgets the marker: hidden, and at x = 0, where snapping it again keeps it hidden.
  void removeMarker() {
    markerPosition_ = -1.0f;
    currentSelectedX_ = 0.0f;
  }

 private:
  Value recordAt(float x, std::span<const float> data, size_t seriesLength);

  // The elements of a series that get a display point, for one length, width, scale and spacing.
  struct VertexLayout {
    int64_t length = 0;
    int32_t width = 0;
    int32_t scaleType = 0;
    int32_t minDiff = 0;
    int64_t firstDrawn = 0;           // the elements before it are not drawn
    std::vector<int64_t> pointIndex;  // the elements that end a point, ascending
    std::vector<float> pointX;
  };
  const VertexLayout& vertexLayout(int64_t length, int32_t minDiff);
  // vertexArrayFromData element by element (any vertical mapping).
  void vertexArrayDirect(std::span<const float> series, int32_t minDiff, std::vector<DisplayPoint>& points) const;

  TableLoader loader_;
  std::map<std::string, std::vector<Octave>> tables_;
  int32_t scaleType_ = 0;
  int32_t graphType_ = 0;
  int32_t backingWidth_ = 0;
  int32_t backingHeight_ = 0;
  AreaParams areaParams_;
  float markerPosition_ = -1.0f;
  float currentSelectedX_ = 0.0f;
  // Kept between frames so that the display points and smoothing allocate nothing once sized.
  std::vector<float> runHighest_, ownLevels_, heights_;
  std::vector<DisplayPoint> supportPoints_;
  std::vector<ORVCubicSpline::Point> splineInput_;
  std::vector<float> splineYs_;
  ORVCubicSpline spline_;
  // The shared set-up of splineVertexArraysFromData, kept while the support x stay the same.
  FixedKnotSplines splines_;
  std::vector<float> splineKnots_;    // the support x it was set up for
  std::vector<float> splineSampleXs_;  // the x of its samples, as the points carry them
  std::vector<double> knotScratch_, sampleScratch_;
  std::array<std::vector<DisplayPoint>, FixedKnotSplines::kMaxSeries> batchSupport_;
  std::vector<float> batchYs_;  // the samples of every series, one after another
  // The last points made for each series' points (one per destination), with the support they
  // were made from.
  struct KeptSpline {
    const std::vector<DisplayPoint>* owner = nullptr;
    std::vector<DisplayPoint> support;
    std::vector<DisplayPoint> points;
    // The series the support was made from, and the settings it was made with (see SupportKey).
    std::vector<float> series;
    std::array<uint32_t, 5> settings{};
    bool hasSeries = false;
    // Splines computed for this destination since its kept points were last used.
    uint32_t freshInARow = 0;
  };
  static constexpr uint32_t kKeepEvery = 4;
  // What a series' spline support depends on besides the series: the width, the height, the scale
  // and the vertical range (their bits).
  std::array<uint32_t, 5> supportKey() const;
  std::array<KeptSpline, FixedKnotSplines::kMaxSeries> keptSplines_;
  size_t nextKeptSpline_ = 0;
  KeptSpline* keptSplineOf(const std::vector<DisplayPoint>* owner);
  KeptSpline& keepSplineOf(const std::vector<DisplayPoint>* owner);
  static void keepSeries(KeptSpline& kept, std::span<const float> values, const std::array<uint32_t, 5>& settings);
  static bool sameDisplayPoints(std::span<const DisplayPoint> a, std::span<const DisplayPoint> b);
  // The full-octave bands' bins for a spectrum of fullOctaveBins_ bins (none yet: -1): they depend
  // only on the bin count, the table being read once.
  struct FullOctaveBins {
    int64_t lo = 0;
    int64_t hi = -1;
  };
  int64_t fullOctaveBins_ = -1;
  size_t fullOctaveBands_ = 0;
  size_t fullOctaveWidest_ = 0;
  std::array<FullOctaveBins, kFullOctaveCount> fullOctaveRanges_{};
  // The layouts of the last few combinations (a frame uses two: traces and spline support).
  static constexpr size_t kKeptLayouts = 4;
  std::vector<VertexLayout> layouts_;
  size_t nextLayout_ = 0;
};
