#include "analysis/UISpectrumView.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/BufferManager.h"
#include "analysis/FrequencyWeighting.h"
#include "analysis/SAudioController.h"
#include "platform/accelerate/VectorClones.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSRunLoop.h"

namespace {
// One request for all views: the first view that then runs a frame with held series resets them.
bool resetMaxMinRequested = false;

// The held maximum takes an element that is greater, the held minimum one it is not smaller than
// (so a level that is not a number replaces the minimum but never the maximum); as selections
// rather than branches, so that the loop vectorises. In the same pass, the first index of the
// highest element above `floor` (not a number never counts; -1 for none) of the series and of the
// held maximum and minimum as they stand after it: peaks[0], [1], [2]. Each of eight lanes scans
// every eighth element as a scan that takes an element only when it is strictly greater than the
// best so far would, and the first index of the highest overall is the smallest index among the
// lanes that hold it (BandMapping::indexOfHighest's indices, one pass instead of four).
SA_VECTOR_CLONES void holdExtremesAndPeaks(const float* __restrict series, float* __restrict maximum,
                                           float* __restrict minimum, size_t n, float floor, int64_t* peaks) {
  typedef float Lanes __attribute__((vector_size(32)));
  typedef int32_t Indices __attribute__((vector_size(32)));
  float best[3] = {floor, floor, floor};
  int64_t index[3] = {-1, -1, -1};
  size_t i = 0;
  if (n >= 16 && n <= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    Lanes bestLanes[3] = {floor - Lanes{}, floor - Lanes{}, floor - Lanes{}};
    Indices bestIndex[3] = {-1 - Indices{}, -1 - Indices{}, -1 - Indices{}};
    Indices position = {0, 1, 2, 3, 4, 5, 6, 7};
    for (; i + 8 <= n; i += 8) {
      Lanes level, high, low;
      std::memcpy(&level, series + i, sizeof level);
      std::memcpy(&high, maximum + i, sizeof high);
      std::memcpy(&low, minimum + i, sizeof low);
      high = high < level ? level : high;
      low = low < level ? low : level;
      std::memcpy(maximum + i, &high, sizeof high);
      std::memcpy(minimum + i, &low, sizeof low);
      const Lanes values[3] = {level, high, low};
      for (int k = 0; k < 3; ++k) {
        const Indices greater = values[k] > bestLanes[k];
        bestLanes[k] = greater ? values[k] : bestLanes[k];
        bestIndex[k] = greater ? position : bestIndex[k];
      }
      position += 8;
    }
    for (int k = 0; k < 3; ++k) {
      for (int lane = 0; lane < 8; ++lane) {
        if (bestIndex[k][lane] < 0) continue;
        if (bestLanes[k][lane] > best[k] ||
            (bestLanes[k][lane] == best[k] && (index[k] < 0 || bestIndex[k][lane] < index[k]))) {
          best[k] = bestLanes[k][lane];
          index[k] = bestIndex[k][lane];
        }
      }
    }
  }
  for (; i < n; ++i) {
    const float level = series[i];
    maximum[i] = maximum[i] < level ? level : maximum[i];
    minimum[i] = minimum[i] < level ? minimum[i] : level;
    const float values[3] = {level, maximum[i], minimum[i]};
    for (int k = 0; k < 3; ++k) {
      if (values[k] > best[k]) {
        best[k] = values[k];
        index[k] = static_cast<int64_t>(i);
      }
    }
  }
  for (int k = 0; k < 3; ++k) peaks[k] = index[k];
}

// Each level, its correction and the offset added in that order (a function of its own, so that
// the loop gets the wider vector units' copies too; the spectrum may be the levels themselves).
SA_VECTOR_CLONES void calibratedLevels(const float* spectrum, const float* corrections, float offset, float* levels,
                                       size_t n) {
  for (size_t i = 0; i < n; ++i) levels[i] = spectrum[i] + corrections[i] + offset;
}

// The level below which a series has no peak.
constexpr float kPeakFloor = -10000.0f;
}  // namespace

std::shared_ptr<UISpectrumView> UISpectrumView::create(const CGRect& frame) {
  auto view = std::make_shared<UISpectrumView>(frame);
  view->initHelper();
  return view;
}

UISpectrumView::UISpectrumView(const CGRect& frame) : UIView(frame) {}

UISpectrumView::~UISpectrumView() {
  if (animationTimer) animationTimer->invalidate();
  if (context && makeCurrent()) {
    freeSpectrumObjects();
    destroyFramebuffer();
  }
  if (context && EAGLContext::currentContext() == context) EAGLContext::setCurrentContext(nullptr);
}

std::shared_ptr<CALayer> UISpectrumView::makeLayer() const { return std::make_shared<CAEAGLLayer>(); }

std::shared_ptr<CAEAGLLayer> UISpectrumView::eaglLayer() const {
  return std::static_pointer_cast<CAEAGLLayer>(layer());
}

bool UISpectrumView::makeCurrent() { return context && EAGLContext::setCurrentContext(context); }

void UISpectrumView::initHelper() {
  isSpectrogramInited = false;
  spectrumMode = 0;
  needDrawPlot = true;

  mainChartColor = UIColor::colorWithRed(233 / 255.0, 241 / 255.0, 164 / 255.0, 1);
  mainFillColor = UIColor::colorWithRed(155 / 255.0, 155 / 255.0, 82 / 255.0, 1);
  mainChartWidth = 2;
  supportChartColor = mainChartColor;
  supportFillColor = mainFillColor;
  supportChartWidth = 2;
  markerColor = mainChartColor;
  markerWidth = 2;
  barsColor = UIColor::colorWithRed(0, 0, 1, 0.5);
  maxBarColor = UIColor::colorWithRed(1, 0, 0, 0.5);
  planchesColor = mainFillColor;

  // Without a usable GL context or framebuffer the view still analyses and reports every frame;
  // it only draws nothing (the process carries on instead of ending).
  setOpaque(false);
  context = EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1);
  if (!context || !EAGLContext::setCurrentContext(context)) {
    NSLog("GL is not available: the spectrum view analyses without drawing");
    context.reset();
  } else if (!createFramebuffer()) {
    NSLog("the spectrum view has no complete framebuffer and draws nothing until its next layout");
  }

  // Stored only: the engine made next starts with the same parameters.
  mathParams_ = MathParams{0, 512};
  audioController_ = SAudioController::create();
  audioController_->setStopAllActions(stopAllActions);

  l_maxData.clear();
  l_minData.clear();
  l_mainData.clear();
  l_maxesData.clear();
  l_minsData.clear();
  l_localMaximus.clear();
  l_holdedMaximus.clear();
  l_holdedMinimus.clear();
  l_fftData.clear();
  l_markerPosition = -1;
  bands_.setMarkerPosition(-1);
  isMaxReady = false;

  holdMaximum_ = false;
  holdMinimum_ = false;
  needFill = false;
  needSpline = true;
  setScaleType(0);
  setGraphType(0);
  setAreaParams(AreaParams{-130, -10});

  setupView();
  drawView();

  sonogramMinimumUpdateInterval = 0;
  animationInterval_ = 1.0 / 24.0;
  startAnimation();
}

void UISpectrumView::startAnimation() {
  stopAnimation();
  scheduleFrameTimer();
  if (audioController_) audioController_->startIOUnit();
  // A start is a new input: what the view showed before it goes now, not with the first frame.
  if (BufferManager* manager = frameSource()) noteMeasurement(manager->measurement());
}

void UISpectrumView::scheduleFrameTimer() {
  if (animationTimer) animationTimer->invalidate();
  std::weak_ptr<UISpectrumView> weak = std::static_pointer_cast<UISpectrumView>(shared_from_this());
  animationTimer = NSTimer::scheduledTimerWithTimeInterval(animationInterval_, true, [weak](NSTimer&) {
    if (auto self = weak.lock()) self->invalidate();
  });
}

void UISpectrumView::stopAnimation() {
  if (animationTimer) {
    animationTimer->invalidate();
    animationTimer.reset();
  }
  if (audioController_) audioController_->stopIOUnit();
}

void UISpectrumView::setAudioController(std::shared_ptr<SAudioController> controller) {
  audioController_ = std::move(controller);
}

void UISpectrumView::setStopAllActions(bool stop) {
  stopAllActions = stop;
  if (audioController_) audioController_->setStopAllActions(stop);
}

void UISpectrumView::startFileRecord(const std::string& url) {
  if (audioController_) audioController_->startFileRecord(url);
}

void UISpectrumView::stopFileRecord() {
  if (audioController_) audioController_->stopFileRecord();
}

void UISpectrumView::pauseFileRecord() {
  if (audioController_) audioController_->pauseFileRecord();
}

BufferManager* UISpectrumView::frameSource() const {
  if (bufferManager_) return bufferManager_;
  return audioController_ ? audioController_->getBufferManagerInstance() : nullptr;
}

void UISpectrumView::setAnimationInterval(double interval) {
  // A period that is not a positive number would make the timer spin or never fire.
  if (!(interval > 0) || !std::isfinite(interval)) return;
  animationInterval_ = interval;
  // Only the frame timer changes pace: the capture goes on, and so does what it measures.
  if (animationTimer) scheduleFrameTimer();
}

void UISpectrumView::setMathParams(MathParams params) {
  mathParams_ = params;
  // A new frame size needs a chain with buffers of that length: the engine builds it again. The
  // input is the same, so what the view shows stays until the first frame at the new setting.
  if (audioController_) audioController_->applyMathParams(params);
}

void UISpectrumView::setScaleType(int32_t scaleType) {
  scaleType_ = scaleType;
  bands_.setScaleType(scaleType);
  if (isSpectrogramInited && makeCurrent()) clearTextures();
}

void UISpectrumView::setGraphType(int32_t graphType) {
  graphType_ = graphType;
  bands_.setGraphType(graphType);
}

void UISpectrumView::setHoldMaximum(bool hold) {
  holdMaximum_ = hold;
  isMaxReady = false;
  l_maxData.clear();
  l_maxesData.clear();
}

void UISpectrumView::setHoldMinimum(bool hold) {
  holdMinimum_ = hold;
  isMaxReady = false;
  l_minData.clear();
  l_minsData.clear();
}

void UISpectrumView::resetMaxMinData() { resetMaxMinRequested = true; }

void UISpectrumView::setMarkerAt(float x) {
  l_currentSelectedX = x;
  bands_.setMarkerPosition(l_markerPosition);
  bands_.setMarkerAt(x, l_mainData);
  l_markerPosition = bands_.markerPosition();
}

void UISpectrumView::removeMarker() {
  bands_.removeMarker();
  l_currentSelectedX = bands_.getCurrentX();
  l_markerPosition = bands_.markerPosition();
}

std::vector<float> UISpectrumView::processData(std::span<const float> levels) {
  std::vector<float> series;
  bands_.processData(levels, series);
  return series;
}

void UISpectrumView::processAndSendFullOctaveOutput(std::span<const float> levels) {
  std::array<float, BandMapping::kFullOctaveCount> output{};
  bands_.fullOctaveOutput(levels, output);
  // The list is the view's own, refilled every frame (a receiver that keeps it copies it).
  fullOctaveLevels_.assign(output.begin(), output.end());
  if (auto delegate = maximusDelegate.lock()) delegate->setFullOctaveOutput(fullOctaveLevels_);
}

UISpectrumView::Peak UISpectrumView::localMaximumOf(std::span<const float> values) {
  // The first of equal highest values wins; a series with nothing above -10,000 dB has no peak.
  return peakAt(values, BandMapping::indexOfHighest(values, kPeakFloor));
}

UISpectrumView::Peak UISpectrumView::peakAt(std::span<const float> values, int64_t index) {
  const float best = index < 0 ? kPeakFloor : values[static_cast<size_t>(index)];
  if (bands_.isBandScale()) {
    const auto& table = bands_.getCurrentOctaves();
    if (index < 0 || table.empty()) return {1.0f, 100.0f};
    // A series longer than the table has no band to name for its last elements.
    float frequency = static_cast<size_t>(index) < table.size() ? table[static_cast<size_t>(index)].midFreq() : 0.0f;
    return {best, frequency};
  }
  float factor = values.empty() ? 0.0f : static_cast<float>(22050.0 / static_cast<double>(values.size()));
  return {best, static_cast<float>(index) * factor};
}

Value UISpectrumView::getLocalMaximumOf(std::span<const float> values) {
  const Peak peak = localMaximumOf(values);
  return Value{{"volume", peak.volume}, {"frequency", peak.frequency}};
}

namespace {
// A peak list of one record, refilled in place: a record already in the list only has its two
// numbers replaced, so a frame allocates nothing for it.
void setPeakRecord(std::vector<Value>& list, float volume, float frequency) {
  if (list.size() == 1 && list[0].is_object() && list[0].size() == 2) {
    auto v = list[0].find("volume");
    auto f = list[0].find("frequency");
    if (v != list[0].end() && f != list[0].end()) {
      *v = static_cast<double>(volume);
      *f = static_cast<double>(frequency);
      return;
    }
  }
  list.clear();
  list.push_back(Value{{"volume", volume}, {"frequency", frequency}});
}
}  // namespace

void UISpectrumView::invalidate() {
  BufferManager* manager = frameSource();
  if (!manager) return;
  // The capture began anew (another source, or its samples came back after a gap): what is shown
  // goes at once, not when the new input's first whole window is in.
  noteMeasurement(manager->measurement());
  if (manager->mFFTFramesReady.load() == 0) return;
  const uint32_t n = manager->mFFTInputBufferLen / 2;
  // Reused from frame to frame: once sized, a frame allocates nothing here. Every element is
  // written by the transform below, so the old values need no clearing.
  frameSpectrum_.resize(n);
  if (!manager->ComputeFFTOutput(frameSpectrum_.data(), mathParams_)) return;
  noteMeasurement(manager->frameMeasurement());
  processSpectrum(frameSpectrum_);
}

void UISpectrumView::noteMeasurement(uint64_t measurement) {
  if (measurement == shownMeasurement_) return;
  shownMeasurement_ = measurement;
  forgetCurrentLevels();
  if (auto delegate = maximusDelegate.lock()) delegate->measurementRestarted();
}

void UISpectrumView::forgetCurrentLevels() {
  if (l_fftData.empty() && l_mainData.empty() && l_localMaximus.empty() && !sonogramData) return;
  l_fftData.clear();
  l_mainData.clear();
  l_localMaximus.clear();
  fullOctaveLevels_.clear();
  sonogramData.reset();  // no column of them is added again
  if (needDrawPlot) drawView();
}

void UISpectrumView::makeDisplayPoints() {
  // A held series' points are drawn only while its hold is on (they are emptied when it turns on,
  // with the series itself), so they are made only then.
  if (needSpline && graphType_ == 0) {
    // The series have one length, so their splines share their support x and one solve.
    BandMapping::SplineSeries series[3] = {{l_fftData, &l_mainData}};
    size_t count = 1;
    if (holdMaximum_) series[count++] = {l_maxData, &l_maxesData};
    if (holdMinimum_) series[count++] = {l_minData, &l_minsData};
    bands_.splineVertexArraysFromData(std::span<const BandMapping::SplineSeries>(series, count));
  } else {
    bands_.vertexArrayFromData(l_fftData, 2, l_mainData);
    if (holdMaximum_) bands_.vertexArrayFromData(l_maxData, 2, l_maxesData);
    if (holdMinimum_) bands_.vertexArrayFromData(l_minData, 2, l_minsData);
  }
}

void UISpectrumView::fitDisplayPointsToBacking() {
  const int32_t oldWidth = bands_.backingWidth();
  if (oldWidth == backingWidth && bands_.backingHeight() == backingHeight) return;
  bands_.setBackingSize(backingWidth, backingHeight);
  // The levels are the ones measured: only where they stand changes. (The peak cross and the bars
  // are found from these points when they are drawn.)
  makeDisplayPoints();
  if (oldWidth <= 0 || backingWidth == oldWidth) return;
  // Every horizontal axis stretches with the width (x is a fraction of it on each scale), so the
  // marker's place at the new width is its old one stretched, snapped to the new points as a
  // frame would snap it.
  const float stretch = static_cast<float>(backingWidth) / static_cast<float>(oldWidth);
  if (l_markerPosition > 0) l_markerPosition *= stretch;
  setMarkerAt(getCurrentX() * stretch);
}

void UISpectrumView::processSpectrum(std::span<const float> spectrum) {
  const size_t n = spectrum.size();
  // Calibrated levels, made where the sonogram takes them as its next column.
  if (!sonogramData) sonogramData.emplace();
  sonogramData->resize(n);
  std::span<float> levels(*sonogramData);
  const std::span<const float> corrections = corrections_.corrections(currentCalibration.get(), n);
  calibratedLevels(spectrum.data(), corrections.data(), calibrationOffset, levels.data(), n);
  lastTotals = weighting_.totals(levels);

  bands_.setBackingSize(backingWidth, backingHeight);
  bands_.processData(levels, l_fftData);
  processAndSendFullOctaveOutput(levels);

  if (!l_maxData.empty() && (l_maxData[0] > 0 || resetMaxMinRequested)) {
    resetMaxMinRequested = false;
    for (size_t i = 0; i < l_maxData.size(); ++i) {
      l_maxData[i] = -130.0f;
      if (i < l_minData.size()) l_minData[i] = 10.0f;
    }
  }
  // The peaks of the three series, when the pass that holds the extremes finds them on its way.
  int64_t peaks[3] = {-1, -1, -1};
  bool peaksFound = false;
  if (l_fftData.size() != l_maxData.size() || l_fftData.size() != l_minData.size()) {
    l_maxData.assign(l_fftData.size(), -130.0f);
    l_minData.assign(l_fftData.size(), 10.0f);
  } else {
    holdExtremesAndPeaks(l_fftData.data(), l_maxData.data(), l_minData.data(), l_fftData.size(), kPeakFloor, peaks);
    peaksFound = true;
  }

  makeDisplayPoints();
  isMaxReady = true;

  // Each list holds one record after a frame (the held ones only while their hold is on). (The
  // series are as the pass above left them: the smoothing only reads them.)
  auto peakOf = [&](const std::vector<float>& values, int64_t found) {
    return peaksFound ? peakAt(values, found) : localMaximumOf(values);
  };
  const Peak current = peakOf(l_fftData, peaks[0]);
  setPeakRecord(l_localMaximus, current.volume, current.frequency);
  if (holdMaximum_) {
    const Peak held = peakOf(l_maxData, peaks[1]);
    setPeakRecord(l_holdedMaximus, held.volume, held.frequency);
  } else {
    l_holdedMaximus.clear();
  }
  if (holdMinimum_) {
    const Peak held = peakOf(l_minData, peaks[2]);
    setPeakRecord(l_holdedMinimus, held.volume, held.frequency);
  } else {
    l_holdedMinimus.clear();
  }

  if (needDrawPlot) drawView();

  if (auto delegate = maximusDelegate.lock()) {
    delegate->setMaximus(l_localMaximus, l_holdedMaximus, l_holdedMinimus, lastTotals.dba, lastTotals.dbb,
                         lastTotals.dbc, lastTotals.dbz);
  }
}
