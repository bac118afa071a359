#include "analysis/vlxSpectrum.h"

#include <atomic>
#include <cmath>
#include <mutex>

#include "platform/foundation/NSObjCRuntime.h"
#include "platform/uikit/UIScreen.h"

namespace {

std::mutex& sharedMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}
// A strong reference held for the life of the process.
std::shared_ptr<vlxSpectrum>& shared() {
  static auto* s = new std::shared_ptr<vlxSpectrum>();
  return *s;
}
std::atomic<bool> watchSession{false};

// The class is found by name (SpectrumWrapper looks it up as the platform looks up a class).
const bool registered = [] {
  NSRegisterClass({"vlxSpectrum", {"sharedInstance"}});
  return true;
}();

UIColorRef hex(uint32_t value, double alpha = 1) {
  return UIColor::colorWithRed(((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0,
                               alpha);
}

}  // namespace

std::shared_ptr<vlxSpectrum> vlxSpectrum::sharedInstance() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  if (!shared()) {
    (void)registered;
    const CGRect screen = UIScreen::mainScreen().bounds();
    auto chart = std::make_shared<vlxSpectrum>(CGRectMake(0, 0, screen.size.width, 100));
    chart->initHelper();
    shared() = chart;
    chart->applyPreset();
  }
  return shared();
}

std::shared_ptr<vlxSpectrum> vlxSpectrum::initWithFrame(const CGRect& frame) {
  auto chart = std::make_shared<vlxSpectrum>(frame);
  chart->initHelper();
  std::shared_ptr<vlxSpectrum> instance;
  {
    std::lock_guard<std::mutex> lock(sharedMutex());
    shared() = chart;
    instance = chart;
  }
  instance->applyPreset();
  return instance;
}

void vlxSpectrum::applyPreset() {
  auto inner = spectrumView();
  axisVerticalLabelsColor = UIColor::colorWithRed(0.733, 0.733, 0.764, 1);
  axisLabelsColor = UIColor::colorWithRed(0.733, 0.733, 0.764, 1);
  subAxisColorHorizontal = hex(0x28282E, 0.03);
  subAxisWidthHorizontal = 0.5;
  axisColor = hex(0x494952);
  if (inner) {
    inner->barsColor = hex(0xC93642);
    inner->maxBarColor = hex(0xC93642);
  }
  subAxisColor = hex(0x28282E, 0.75);
  if (inner) inner->planchesColor = hex(0x929295);
  setNeedFill(true);
  if (inner) {
    inner->mainFillColor = hex(0xBD3541);
    inner->mainChartColor = hex(0xFFFFFF);
    inner->supportChartColor = hex(0x969699);
    inner->supportFillColor = hex(0xFFFFFF, 0.2);
    inner->mainChartWidth = 2;
  }
  axisLablesFont = UIFont::fontWithName("HelveticaNeueCyr-UltraLight", 11);
  axisVerticalLablesFont = UIFont::fontWithName("HelveticaNeueCyr-UltraLight", 10);
  if (inner) inner->supportChartWidth = 1;
  setNeedSpline(false);
  setScaleType(1);
  setGraphType(0);
  setHoldMaximus(true);
  setHoldMinimus(false);
  setBackgroundColor(UIColor::clearColor());
  const double height = UIScreen::mainScreen().bounds().size.height;
  if (height == 480 || height == 568) setMathParams(MathParams{0, 512});
}

void vlxSpectrum::rotateRightWithFrame(const CGRect& frame) {
  auto chart = sharedInstance();
  chart->setTransform(CGAffineTransformMakeRotation(-M_PI / 2));
  chart->setFrame(frame);
  if (auto inner = chart->spectrumView()) inner->setFrame(frame);
}

void vlxSpectrum::setupIsWatchSession() { watchSession.store(true); }
void vlxSpectrum::setupIsForeground() { watchSession.store(false); }
bool vlxSpectrum::isWatchSession() { return watchSession.load(); }

void vlxSpectrum::setGlobalCalibrationCoefficient(int32_t gain) {
  globalGain_ = gain;
  if (auto inner = spectrumView()) inner->calibrationOffset = static_cast<float>(gain);
}

void vlxSpectrum::resetGlobalCalibrationCoefficient() {
  globalGain_.reset();
  if (auto inner = spectrumView()) inner->calibrationOffset = 0;
}

void vlxSpectrum::resetForTesting() {
  std::shared_ptr<vlxSpectrum> old;
  {
    std::lock_guard<std::mutex> lock(sharedMutex());
    old.swap(shared());
  }
  if (old) {
    old->stopAnimation();
    old->stopDataProvide();
  }
  watchSession.store(false);
}
