#include "analysis/UISpectrumContainerView.h"

#include <cmath>

#include "analysis/BufferManager.h"
#include "analysis/FrequencyWeighting.h"
#include "analysis/NoAudioInputView.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumSonogramScaleView.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSLog.h"
#include "platform/audio/AudioUnit.h"
#include "platform/foundation/NSRunLoop.h"

namespace {
// The running maximum of every bin level the data ticks delivered, across all containers.
std::vector<float>& levelMaxima() {
  static std::vector<float> maxima;
  return maxima;
}
bool levelMaximaExist = false;

}  // namespace

std::shared_ptr<UISpectrumContainerView> UISpectrumContainerView::create(const CGRect& frame) {
  auto view = std::make_shared<UISpectrumContainerView>(frame);
  view->initHelper();
  return view;
}

UISpectrumContainerView::UISpectrumContainerView(const CGRect& frame) : UIScaleView(frame) {}

UISpectrumContainerView::~UISpectrumContainerView() {
  if (dataProvideTimer_) dataProvideTimer_->invalidate();
}

std::shared_ptr<UISpectrumContainerView> UISpectrumContainerView::self() {
  return std::static_pointer_cast<UISpectrumContainerView>(shared_from_this());
}

std::vector<SonogramColorStop> UISpectrumContainerView::getDefaultSonogramColors() {
  return {{0.0f, UIColor::colorWithRed(0, 0, 0, 0)},
          {0.333f, UIColor::colorWithRed(0.7, 0, 0, 1)},
          {0.667f, UIColor::colorWithRed(0, 0, 1, 1)},
          {1.0f, UIColor::colorWithRed(0, 1, 1, 1)}};
}

const std::vector<float>& UISpectrumContainerView::providedLevelMaxima() { return levelMaxima(); }

void UISpectrumContainerView::resetProvidedLevelMaxima() {
  levelMaxima().clear();
  levelMaximaExist = false;
}

void UISpectrumContainerView::initHelper() {
  setBackgroundColor(UIColor::colorWithRed(40 / 255.0, 46 / 255.0, 46 / 255.0, 1));
  setMathParams(MathParams{0, 0});
  setAreaParams(AreaParams{-130, -10});
  axisColor = UIColor::colorWithRed(0.5, 0.5, 0.5, 1);
  axisWidth = 2;
  subAxisColor = UIColor::colorWithRed(0.25, 0.25, 0.25, 1);
  subAxisWidth = 1;
  subAxisColorHorizontal = UIColor::colorWithRed(0.25, 0.25, 0.25, 1);
  subAxisWidthHorizontal = 0.5;
  axisLablesFont = UIFont::fontWithName("Avenir-Medium", 12);
  axisLabelsColor = UIColor::whiteColor();
  axisVerticalLablesFont = UIFont::fontWithName("Avenir-Medium", 12);
  axisVerticalLabelsColor = UIColor::whiteColor();
  verticalLabelsCount = 10;
  horizontalLabelsCount = 15;

  const CGRect r = getUpdatedSpectrumRect();

  spectrumView_ = UISpectrumView::create(r);
  spectrumView_->sonogramColors = getDefaultSonogramColors();
  spectrumView_->maximusDelegate = std::static_pointer_cast<MaximusDelegate>(self());

  setScaleType(1);

  const BufferManager* manager = nullptr;
  if (auto controller = audioController()) manager = controller->getBufferManagerInstance();
  l_fftData.assign(manager ? manager->mFFTInputBufferLen / 2 : 0, 0.0f);

  addSubview(spectrumView_);

  sonogramScaleView_ = std::make_shared<UISpectrumSonogramScaleView>(r);
  sonogramScaleView_->setHidden(true);
  sonogramScaleView_->setContainerView(self());
  sonogramScaleView_->setOpaque(false);
  needShowScale_ = true;
  addSubview(sonogramScaleView_);

  // Over everything else of the chart area, sonogram scale included.
  noAudioInputView_ = std::make_shared<NoAudioInputView>(r);
  noAudioInputView_->setHidden(true);
  addSubview(noAudioInputView_);
  std::weak_ptr<UISpectrumContainerView> weak = self();
  audioInputObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      SAudioController::kAudioInputDidChangeNotification, nullptr, nullptr, [weak](const NSNotification& n) {
        auto container = weak.lock();
        if (container && n.object == container->audioController().get()) container->updateAudioInputState();
      });
  updateAudioInputState();  // the engine started before this container listened

  setDataProvideInterval(0.05);
  startDataProvide();
}

std::string UISpectrumContainerView::audioInputProblem() const {
  auto controller = audioController();
  return controller ? controller->audioInputProblem() : std::string();
}

bool UISpectrumContainerView::hasAudioInput() const {
  // Asked for every frame: no copy of the reason.
  const SAudioController* controller = spectrumView_ ? spectrumView_->audioController().get() : nullptr;
  return !controller || controller->hasAudioInput();
}

void UISpectrumContainerView::updateAudioInputState() {
  const std::string problem = audioInputProblem();
  if (noAudioInputView_) {
    noAudioInputView_->setReason(problem);
    noAudioInputView_->setHidden(problem.empty());
  }
  // An input back (or a chart stopped) gives no level: the receivers' levels come with a frame.
  if (problem.empty()) return;
  if (spectrumView_) spectrumView_->forgetCurrentLevels();
  levelsGone();
}

void UISpectrumContainerView::levelsGone() {
  if (toldLevelsUnavailable_) return;
  toldLevelsUnavailable_ = true;
  tellLevelsUnavailable();
}

// The view has taken its own current levels off already.
void UISpectrumContainerView::measurementRestarted() { levelsGone(); }

bool UISpectrumContainerView::acceptFrame() {
  // A frame of a chain without input is no measurement: its receivers show that there is none.
  if (!hasAudioInput()) return false;
  toldLevelsUnavailable_ = false;
  return true;
}

void UISpectrumContainerView::tellLevelsUnavailable() {
  if (auto target = delegate_.lock()) target->levelsUnavailable();
  if (auto levels = fftDelegate_.lock()) levels->levelsUnavailable();
}

void UISpectrumContainerView::setDelegate(const std::shared_ptr<DataProvideDelegate>& delegate) {
  delegate_ = delegate;
  if (delegate && !hasCurrentLevels()) delegate->levelsUnavailable();
}

void UISpectrumContainerView::setFftDelegate(const std::shared_ptr<FFTValuesDelegate>& delegate) {
  fftDelegate_ = delegate;
  if (delegate && !hasCurrentLevels()) delegate->levelsUnavailable();
}

// ---- Settings ----

void UISpectrumContainerView::setAreaParams(AreaParams params) {
  areaParams_ = params;
  if (spectrumView_) spectrumView_->setAreaParams(params);
}

void UISpectrumContainerView::setMathParams(MathParams params) {
  // The data tick sizes the buffer from each frame it takes; a frame size no engine can run is not
  // worth gigabytes of zeros here.
  if (params.frameSize > static_cast<int32_t>(kRemoteIOMaxFramesPerSliceLimit)) {
    NSLog("UISpectrumContainerView: frame size %d is larger than any engine runs", static_cast<int>(params.frameSize));
    l_fftData.clear();
  } else {
    l_fftData.assign(params.frameSize > 0 ? static_cast<size_t>(params.frameSize) : 0, 0.0f);
  }
  mathParams_ = params;
  if (spectrumView_) spectrumView_->setMathParams(params);
}

void UISpectrumContainerView::setScaleType(int32_t scaleType) {
  scaleType_ = scaleType;
  if (spectrumView_) spectrumView_->setScaleType(scaleType);
  setNeedsDisplay();
  if (sonogramScaleView_) sonogramScaleView_->setNeedsDisplay();
}

void UISpectrumContainerView::setGraphType(int32_t graphType) {
  graphType_ = graphType;
  if (spectrumView_) spectrumView_->setGraphType(graphType);
  setNeedsDisplay();
}

void UISpectrumContainerView::setSonogramColors(const std::vector<SonogramColorStop>& colors) {
  if (spectrumView_) spectrumView_->sonogramColors = colors;
}

void UISpectrumContainerView::setMainChartColor(const UIColorRef& color, float width) {
  if (!spectrumView_) return;
  spectrumView_->mainChartColor = color;
  spectrumView_->mainChartWidth = width;
}

void UISpectrumContainerView::setSupportChartColor(const UIColorRef& color, float width) {
  if (!spectrumView_) return;
  spectrumView_->supportChartColor = color;
  spectrumView_->supportChartWidth = width;
}

void UISpectrumContainerView::setMarkerColor(const UIColorRef& color, float width) {
  if (!spectrumView_) return;
  spectrumView_->markerColor = color;
  spectrumView_->markerWidth = width;
}

void UISpectrumContainerView::setPeakMarkerColor(const UIColorRef& color, float width) {
  if (!spectrumView_) return;
  spectrumView_->peakMarkerColor = color;
  spectrumView_->peakMarkerWidth = width;
}

void UISpectrumContainerView::setMainChartFill(const UIColorRef& color) {
  if (spectrumView_) spectrumView_->mainFillColor = color;
}

void UISpectrumContainerView::setSupportChartFill(const UIColorRef& color) {
  if (spectrumView_) spectrumView_->supportFillColor = color;
}

void UISpectrumContainerView::setNeedPeakMarker(bool need) {
  if (spectrumView_) spectrumView_->needPeakMarker = need;
}

void UISpectrumContainerView::setNeedFill(bool need) {
  if (spectrumView_) spectrumView_->needFill = need;
}

void UISpectrumContainerView::setNeedSpline(bool need) {
  if (spectrumView_) spectrumView_->needSpline = need;
}

void UISpectrumContainerView::setHoldMaximus(bool hold) {
  if (spectrumView_) spectrumView_->setHoldMaximum(hold);
}

void UISpectrumContainerView::setHoldMinimus(bool hold) {
  if (spectrumView_) spectrumView_->setHoldMinimum(hold);
}

void UISpectrumContainerView::setAnimationInterval(double seconds) {
  if (spectrumView_) spectrumView_->setAnimationInterval(seconds);
}

void UISpectrumContainerView::setSonogramUpdateInterval(double seconds) {
  if (spectrumView_) spectrumView_->sonogramMinimumUpdateInterval = seconds;
}

// ---- Modes ----

void UISpectrumContainerView::setGraphMode() {
  if (!spectrumView_) return;
  needShowScale_ = true;
  setNeedsLayout();
  spectrumView_->spectrumMode = 0;
  sonogramScaleView_->setHidden(true);
}

void UISpectrumContainerView::setSonogramMode(CGSize paddings) {
  if (!spectrumView_) return;
  paddings_ = paddings;
  needShowScale_ = false;
  setNeedsLayout();
  spectrumView_->spectrumMode = 1;
  sonogramScaleView_->setHidden(false);
}

void UISpectrumContainerView::clearChart() {
  if (!spectrumView_) return;
  UISpectrumView& plot = *spectrumView_;
  for (auto* series : {&plot.l_fftData, &plot.l_maxData, &plot.l_minData}) series->clear();
  for (auto* points : {&plot.l_mainData, &plot.l_maxesData, &plot.l_minsData}) points->clear();
  plot.l_localMaximus.clear();
  plot.l_holdedMaximus.clear();
  plot.l_holdedMinimus.clear();
  plot.isMaxReady = false;
  plot.sonogramData.reset();  // no last frame to add as a column
  if (plot.context && EAGLContext::setCurrentContext(plot.context)) plot.clearTextures();
  plot.drawView();
}

void UISpectrumContainerView::removeMarker() {
  if (spectrumView_) spectrumView_->removeMarker();
}

// ---- Processing ----

void UISpectrumContainerView::startAnimation(const std::string& recordUrl) {
  isStarted_ = true;
  if (!spectrumView_) return;
  spectrumView_->startAnimation();
  spectrumView_->startFileRecord(recordUrl);
}

void UISpectrumContainerView::stopAnimation() {
  isStarted_ = false;
  if (!spectrumView_) return;
  spectrumView_->stopAnimation();
  spectrumView_->stopFileRecord();
}

void UISpectrumContainerView::pauseAnimation() {
  isStarted_ = false;
  if (spectrumView_) spectrumView_->stopAnimation();
}

void UISpectrumContainerView::startDataProvide() {
  if (dataProvideTimer_) dataProvideTimer_->invalidate();
  // The timer holds the container weakly: a container its screen let go of stops ticking instead
  // of living on (with its engine capturing) for the rest of the process.
  std::weak_ptr<UISpectrumContainerView> weak = self();
  dataProvideTimer_ = NSTimer::scheduledTimerWithTimeInterval(dataProvideInterval_, true, [weak](NSTimer& timer) {
    if (auto container = weak.lock()) {
      container->provideData();
    } else {
      timer.invalidate();
    }
  });
  dataProvideStarted_ = ns::timeIntervalSinceReferenceDate();
}

void UISpectrumContainerView::stopDataProvide() {
  if (!dataProvideTimer_) return;
  dataProvideTimer_->invalidate();
  dataProvideTimer_.reset();
}

void UISpectrumContainerView::setDataProvideInterval(double seconds) {
  // A period that is not a positive number would make the timer spin or never fire.
  if (!(seconds > 0) || !std::isfinite(seconds)) {
    NSLog("UISpectrumContainerView: ignored data interval %g s (must be a positive number)", seconds);
    return;
  }
  dataProvideInterval_ = seconds;
  if (dataProvideTimer_) {
    stopDataProvide();
    startDataProvide();
  }
}

void UISpectrumContainerView::provideData() {
  auto target = delegate_.lock();
  if (!target || !spectrumView_ || !hasAudioInput()) return;
  auto controller = audioController();
  if (!controller) return;
  BufferManager* manager = controller->getBufferManagerInstance();
  if (!manager || manager->mFFTFramesReady.load() == 0) return;

  // The buffer is sized from the frame being taken, not from the last setMathParams: the engine may
  // have rebuilt its chain with another length, and the FFT writes N/2 values.
  const size_t half = manager->mFFTInputBufferLen / 2;
  if (l_fftData.size() != half) l_fftData.assign(half, 0.0f);
  if (!manager->ComputeFFTOutput(l_fftData.data(), mathParams_)) return;

  auto& maxima = levelMaxima();
  if (!levelMaximaExist || maxima.size() != half) {
    maxima.assign(l_fftData.begin(), l_fftData.end());
    levelMaximaExist = true;
  }
  for (size_t i = 0; i < half; ++i) {
    if (!(maxima[i] > l_fftData[i])) maxima[i] = l_fftData[i];
  }

  // The list is the container's own, kept from tick to tick (a receiver that keeps it copies it):
  // a bin's frequency depends only on the bin count, so a tick with the same count only replaces
  // the levels in the records it already has, and builds nothing.
  if (providedList_.size() != half) {
    providedList_.clear();
    providedList_.reserve(half);
    for (size_t i = 0; i < half; ++i) {
      providedList_.push_back(Value{{"frequency", FrequencyWeighting::binFrequency(i, half)}, {"volume", maxima[i]}});
    }
  } else {
    for (size_t i = 0; i < half; ++i) providedList_[i]["volume"] = static_cast<double>(maxima[i]);
  }
  target->provideData(providedList_);
}

// ---- Calibration and file input ----

void UISpectrumContainerView::setLinearCalibrationValues(const Value& values) {
  if (!spectrumView_) return;
  spectrumView_->currentCalibration = std::make_shared<LinearCalibration>(values);
}

void UISpectrumContainerView::setLinearCalibrationFile(const std::string& fileUrl) {
  if (!spectrumView_) return;
  spectrumView_->currentCalibration = std::make_shared<LinearCalibration>(Calibration::parseCalibrationValues(fileUrl));
}

void UISpectrumContainerView::setSplineCalibrationFile(const std::string& fileUrl) {
  if (!spectrumView_) return;
  spectrumView_->currentCalibration =
      std::make_shared<CubicSplineCalibration>(Calibration::parseCalibrationValues(fileUrl));
}

std::optional<Value> UISpectrumContainerView::currentCalibrationValues() const {
  if (!spectrumView_ || !spectrumView_->currentCalibration) return std::nullopt;
  return spectrumView_->currentCalibration->calibrations();
}

void UISpectrumContainerView::setInputFile(const std::string& fileUrl) {
  auto controller = audioController();
  if (!controller) return;
  controller->setFileUrl(fileUrl);
  controller->reinitIOUnit();
}

void UISpectrumContainerView::setCurrentPositionPercent(float percent) {
  if (auto controller = audioController()) controller->startProcessingFileFrom(percent);
}

float UISpectrumContainerView::getCurrentPositionPercent() const {
  auto controller = audioController();
  return controller ? controller->currentPositionInPercent() : 0.0f;
}

// ---- Frame reports ----

void UISpectrumContainerView::setMaximus(const std::vector<Value>& maximus, const std::vector<Value>& holdedMax,
                                         const std::vector<Value>& holdedMin, float dba, float dbb, float dbc,
                                         float dbz) {
  if (!acceptFrame()) return;
  if (auto target = delegate_.lock()) {
    target->selectedValues(getCurrentValues());
    target->maximusArray(maximus, holdedMax, holdedMin);
    target->dbaValue(dba);
    target->dbbValue(dbb);
    target->dbcValue(dbc);
    target->dbzValue(dbz);
  }
  if (auto levels = fftDelegate_.lock()) {
    levels->dbaValue(dba);
    levels->dbcValue(dbc);
  }
}

void UISpectrumContainerView::setFullOctaveOutput(const std::vector<float>& levels) {
  if (!acceptFrame()) return;
  if (auto target = delegate_.lock()) target->fftValues(levels);
  if (auto listener = fftDelegate_.lock()) listener->fftValues(levels);
}

// ---- Layout ----

CGRect UISpectrumContainerView::getUpdatedSpectrumRect() {
  if (needShowScale_) {
    const CGRect f = frame();
    const double W = f.size.width, H = f.size.height;
    const double a = static_cast<float>(axisWidth);
    const double u = roundCoord(W - 45 - a);
    // A container narrower than its axes gets an empty chart rather than a negative width.
    const double k = u > 0 ? std::trunc(u / 30) : 0;
    currentLeftPadding_ = static_cast<float>(u - 30 * k + 45);
    if (auto target = delegate_.lock()) target->currentLeftPaddingChanged(currentLeftPadding_);
    const double height = roundCoord(H - 20 - a);
    return CGRectMake(currentLeftPadding_ + roundCoord(a / 2), a / 2, 30 * k, height > 0 ? height : 0);
  }
  const CGRect b = bounds();
  const double height = b.size.height - 30;
  return CGRectMake(paddings_.width, paddings_.height, b.size.width, height > 0 ? height : 0);
}

void UISpectrumContainerView::layoutSubviews() {
  setNeedsDisplay();
  // A started chart goes on through a layout: its capture is the same input, and a stop and start
  // here would begin the measurement afresh (the readouts would read "--" for a whole window). A
  // chart not started is stopped (the view runs from its creation until then).
  if (spectrumView_ && !isStarted_) spectrumView_->stopAnimation();
  const CGRect r = getUpdatedSpectrumRect();
  if (spectrumView_) spectrumView_->setFrame(r);
  if (sonogramScaleView_) sonogramScaleView_->setFrame(r);
  if (noAudioInputView_) {
    noAudioInputView_->setFrame(r);
    noAudioInputView_->setNeedsDisplay();
  }
  if (isStarted_ && spectrumView_ && !spectrumView_->isAnimating()) spectrumView_->startAnimation();
  updateAudioInputState();
  setNeedsDisplay();
}

std::shared_ptr<SAudioController> UISpectrumContainerView::audioController() const {
  return spectrumView_ ? spectrumView_->audioController() : nullptr;
}
