// The analyser screen's bottom bar: start/stop, the four setting buttons and maximise.
#include <algorithm>

#include "app/AnalyserSettings.h"
#include "app/ViewController.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIScreen.h"

namespace {

std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }
std::string L(const std::string& key) { return NSBundle::mainBundle().localizedStringForKey(key, "", ""); }
double screenWidth() { return UIScreen::mainScreen().bounds().size.width; }

struct WindowStep {
  const char* now;
  const char* next;
  int32_t number;
};
constexpr WindowStep kWindowCycle[] = {
    {"Rectangle", "Hanning", 1}, {"Hanning", "Hamming", 2}, {"Hamming", "Cosine", 4},
    {"Cosine", "Lanczos", 5},    {"Lanczos", "Blackman", 6}, {"Blackman", "Rectangle", 0},
};

}  // namespace

void ViewController::startProcessing(const std::shared_ptr<UIButton>& sender) {
  spectrumView->startAnimation("");
  if (sender) sender->setSelected(true);
}

void ViewController::btnStartStopTap(const std::shared_ptr<UIButton>& sender) {
  if (!sender) return;
  if (sender->isSelected()) {
    sender->setSelected(false);
    spectrumView->stopAnimation();
    vlxEventTracer::addEvent("Stop_Tap");
  } else {
    startProcessing(sender);
    vlxEventTracer::addEvent("Start_Tap");
  }
}

void ViewController::changeGraphType(const std::shared_ptr<UIButton>&) {
  vlxEventTracer::addEvent("Change_Graph_Tap");
  if (currentType() != "octave") {
    const std::string now = settings::stored(settings::kFFTWindow);
    for (const auto& step : kWindowCycle) {
      if (now != step.now) continue;
      spectrumView->setMathParams(MathParams{step.number, settings::fftSizeInUse(settings::kFFTSize)});
      settings::store(settings::kFFTWindow, step.next);
      btnGraph->setTitle1(L("WINDOW"), step.next);
      return;
    }
    return;  // a name outside the cycle changes nothing
  }
  if (settings::stored(settings::kOctaveGraphType) == "line") {
    settings::store(settings::kOctaveGraphType, "bars");
    spectrumView->setGraphType(1);
    btnGraph->setTitle1(L("GRAPH"), L("Bars"));
  } else {
    settings::store(settings::kOctaveGraphType, "line");
    spectrumView->setGraphType(0);
    spectrumView->setNeedSpline(true);
    btnGraph->setTitle1(L("GRAPH"), L("Line"));
  }
  showEmptyChartIfStopped();
}

void ViewController::changeOctaveMode(const std::shared_ptr<UIButton>&) {
  vlxEventTracer::addEvent("Change_Octave_Mode_Tap");
  if (currentType() == "octave") {
    const std::string now = settings::stored(settings::kOctaveType);
    if (now == "octave3") {
      settings::store(settings::kOctaveType, "octave6");
      spectrumView->setScaleType(4);
      btnOctaves->setTitle1(L("OCTAVE"), L("1/6"));
    } else if (now == "octave6") {
      settings::store(settings::kOctaveType, "octaveFull");
      spectrumView->setScaleType(2);
      btnOctaves->setTitle1(L("OCTAVE"), L("Full"));
    } else {
      settings::store(settings::kOctaveType, "octave3");
      spectrumView->setScaleType(3);
      btnOctaves->setTitle1(L("OCTAVE"), L("1/3"));
    }
    showEmptyChartIfStopped();
    return;
  }
  if (settings::stored(settings::kFFTScale) == "linear") {
    settings::store(settings::kFFTScale, "logarithm");
    spectrumView->setScaleType(1);
    btnOctaves->setTitle1(L("SCALE"), L("Logarithm"));
  } else {
    settings::store(settings::kFFTScale, "linear");
    spectrumView->setScaleType(0);
    btnOctaves->setTitle1(L("SCALE"), L("Linear"));
  }
  showEmptyChartIfStopped();
}

std::vector<int32_t> ViewController::fftSizeCycle(bool octave, double width) {
  if (octave) {
    if (width > 568) return {2048, 4096, 8192, 16384};
    if (width == 568) return {512, 1024, 2048, 4096};
    return {256, 512, 1024, 2048};
  }
  if (width > 568) return {512, 1024, 2048, 4096, 8192, 16384};
  if (width == 568) return {512, 1024, 2048, 4096, 8192};
  return {256, 512, 1024, 2048};
}

int32_t ViewController::nextFFTSize(bool octave, double width, int32_t current, bool* onCycle) {
  auto cycle = fftSizeCycle(octave, width);
  auto it = std::find(cycle.begin(), cycle.end(), current);
  if (onCycle) *onCycle = it != cycle.end();
  if (it == cycle.end()) return current;
  if (++it != cycle.end()) return *it;
  // The narrow FFT cycle offers 256 only until its first wrap, which goes to 512.
  return (!octave && width < 568) ? 512 : cycle.front();
}

void ViewController::changeFFTSize(const std::shared_ptr<UIButton>&) {
  vlxEventTracer::addEvent("Change_FFT_Size_Tap");
  const bool octave = currentType() == "octave";
  const char* key = octave ? settings::kOctaveFFTSize : settings::kFFTSize;
  // A stored size the chart cannot use was never applied: the cycle starts from the size in use.
  const int32_t inUse = settings::fftSizeInUse(key);
  const bool usable = settings::isUsableFFTSize(defaults()->integerForKey(key));
  bool onCycle = false;
  const int32_t next = nextFFTSize(octave, screenWidth(), inUse, &onCycle);
  if (onCycle || !usable) {
    defaults()->setInteger(next, key);
    defaults()->synchronize();
  }
  btnFFT->setTitle1(L("FFT SIZE"), std::to_string(next));
  MathParams params = spectrumView->mathParams();
  params.frameSize = next;
  spectrumView->setMathParams(params);
}

void ViewController::changePeakMode(const std::shared_ptr<UIButton>&) {
  vlxEventTracer::addEvent("Change_Peak_Mode_Tap");
  const std::string type = currentType();
  if (type == "octave") {
    if (settings::stored(settings::kOctaveHoldPeaks) == "Hold") {
      settings::store(settings::kOctaveHoldPeaks, "Off");
      spectrumView->setHoldMaximus(false);
      btnHold->setTitle1(L("PEAKS"), L("Off"));
    } else {
      settings::store(settings::kOctaveHoldPeaks, "Hold");
      spectrumView->setHoldMaximus(true);
      btnHold->setTitle1(L("PEAKS"), L("Hold"));
    }
    return;
  }
  if (type == "sonogram") {
    const std::string now = settings::stored(settings::kSpectrogramPalette);
    if (now == "bw") {
      settings::store(settings::kSpectrogramPalette, "lava");
      spectrumView->setSonogramColors(getLavaSonogramColors());
      btnHold->setTitle1(L("PALETTE"), L("Lava"));
    } else if (now == "lava") {
      settings::store(settings::kSpectrogramPalette, "heat");
      spectrumView->setSonogramColors(getHeatSonogramColors());
      btnHold->setTitle1(L("PALETTE"), L("Heat"));
    } else {
      settings::store(settings::kSpectrogramPalette, "bw");
      spectrumView->setSonogramColors(getBWSonogramColors());
      btnHold->setTitle1(L("PALETTE"), L("B&W"));
    }
    return;
  }
  const std::string now = settings::stored(settings::kFFTHoldPeaks);
  const std::string next = now == "Off" ? "Max" : now == "Max" ? "MaxMin" : now == "MaxMin" ? "Line" : "Off";
  settings::store(settings::kFFTHoldPeaks, next);
  applyFFTHoldPeaks(next);
  applyChartLineStyle();
}

void ViewController::btnMinimizeMaximizeTap(const std::shared_ptr<UIButton>& sender) {
  vlxEventTracer::addEvent("Maximize_Minimize_Tap");
  if (!sender) return;
  setChartMaximised(*sender, !sender->isSelected());
}

void ViewController::setChartMaximised(UIButton& button, bool maximised) {
  button.setSelected(maximised);
  const double constant = maximised ? -69 : 0;
  if (lcBottomBarIndent) lcBottomBarIndent->setConstant(constant);
  if (lcBottomBarWithButtonsIndent) lcBottomBarWithButtonsIndent->setConstant(constant);
  auto root = view();
  UIView::animateWithDuration(0.33, 0, UIViewAnimationOptionCurveEaseOut, [root] { root->layoutIfNeeded(); },
                              [](bool) {});
}
