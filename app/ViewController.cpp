// The analyser screen's set-up, its three modes and restores, and its small actions.
#include "app/ViewController.h"

#include "app/AnalyserSettings.h"
#include "app/AppDelegate.h"
#include "app/SideMenuController.h"
#include "app/UIColorExtension.h"
#include "app/UIViewController+InputsPopup.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/graphics/GLES.h"
#include "platform/uikit/UIDevice.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStoryboard.h"

namespace {

std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

// Button titles are keys of the default string table, shown as they are where there is no entry.
std::string L(const std::string& key) { return NSBundle::mainBundle().localizedStringForKey(key, "", ""); }

UIColorRef hex(uint32_t value) { return UIColorExtension::colorWithHex(value); }
UIColorRef hex(uint32_t value, float alpha) { return UIColorExtension::colorWithHexAndAlpha(value, alpha); }

// The window numbers of the stored names; the screen never selects window 3.
std::optional<int32_t> windowNumber(const std::string& name) {
  if (name == "Hanning") return 1;
  if (name == "Hamming") return 2;
  if (name == "Cosine") return 4;
  if (name == "Lanczos") return 5;
  if (name == "Blackman") return 6;
  if (name == "Rectangle") return 0;
  return std::nullopt;
}

// Before a palette is built the current GL drawing colour becomes opaque white (when a GL context
// is current; without one there is no drawing state to set).
void resetGLColor() {
  if (EAGLContext::currentContext()) glColor4f(1, 1, 1, 1);
}

std::vector<SonogramColorStop> palette(UIColorRef c1, UIColorRef c2, UIColorRef c3) {
  resetGLColor();
  return {{0.0f, UIColor::colorWithRed(0, 0, 0, 0)}, {0.333f, std::move(c1)}, {0.667f, std::move(c2)}, {1.0f, std::move(c3)}};
}

}  // namespace

ViewController::~ViewController() = default;

std::shared_ptr<ViewController> ViewController::self() {
  return std::static_pointer_cast<ViewController>(shared_from_this());
}

std::string ViewController::currentType() const { return settings::stored(settings::kCurrentType); }

std::vector<SonogramColorStop> ViewController::getBWSonogramColors() {
  return palette(UIColor::colorWithRed(0.1, 0.1, 0.1, 1), UIColor::colorWithRed(0.5, 0.5, 0.5, 1),
                 UIColor::colorWithRed(1, 1, 1, 1));
}
std::vector<SonogramColorStop> ViewController::getLavaSonogramColors() {
  return palette(hex(0x2927F5), hex(0x58BBEE), hex(0xBBE0F4));
}
std::vector<SonogramColorStop> ViewController::getHeatSonogramColors() {
  return palette(hex(0xD0927D), hex(0xFA490C), hex(0x42FA0C));
}

// ---- Set-up ----

void ViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  auto inner = spectrumView->spectrumView();

  // 1-2. Background, and more room under the buttons on a screen with a home indicator.
  mainView->layer()->setContents(UIImage::imageNamed("mainBackground"));
  auto idiom = UIDevice::currentDevice().userInterfaceIdiom();
  if ((idiom == UIUserInterfaceIdiomPhone || idiom == UIUserInterfaceIdiomUnspecified) &&
      UIScreen::mainScreen().nativeBounds().size.height == 2436) {
    if (auto c = btmConstraint.lock()) c->setConstant(6);
  }

  // 3. Rounded readouts; the touch readouts wait for a touch.
  for (const auto& label : {lblFloatingLeft, lblCurrentReadings, std::shared_ptr<UILabel>(lblMaxMin), lblFloatingRight}) {
    label->layer()->setCornerRadius(14);
    label->setClipsToBounds(true);
  }
  lblCurrentReadings->setHidden(true);
  lblMaxMin->setHidden(true);

  // 4. Chart styling, first part.
  spectrumView->axisVerticalLabelsColor = UIColor::whiteColor();
  spectrumView->axisLabelsColor = hex(0x39F2E3);
  spectrumView->subAxisColorHorizontal = hex(0x9C80EF, 0.03f);
  spectrumView->subAxisWidthHorizontal = 0.5;
  spectrumView->axisColor = UIColor::clearColor();
  if (inner) {
    inner->barsColor = hex(0x31F1E8);
    inner->maxBarColor = hex(0x31F1E8);
  }
  spectrumView->subAxisColor = hex(0x9C80EF, 0.34f);

  // 5. The aim, when stored.
  if (defaults()->objectForKey(settings::kAimEnabled)) {
    bool aim = defaults()->boolForKey(settings::kAimEnabled);
    if (aim) {
      if (inner) inner->maxBarColor = hex(0xFFFD00);
      spectrumView->setNeedPeakMarker(true);
    } else {
      spectrumView->setNeedPeakMarker(false);
    }
    btnAim->setSelected(aim);
  }

  // 6. Chart styling, the rest.
  if (inner) inner->planchesColor = hex(0xFFFD00);
  spectrumView->setNeedFill(true);
  applyChartLineStyle();
  spectrumView->setNeedSpline(false);
  spectrumView->setScaleType(4);
  spectrumView->setGraphType(1);
  spectrumView->setHoldMaximus(true);
  spectrumView->setHoldMinimus(false);
  spectrumView->setPeakMarkerColor(hex(0x31F1E8), 1);
  spectrumView->setBackgroundColor(UIColor::clearColor());
  spectrumView->setGraphMode();
  spectrumView->setNeedsDisplay();

  // 7. The saved mode.
  const std::string type = currentType();
  if (type == "octave") initWithOctaveSavedValues();
  else if (type == "sonogram") initWithSpectrographSavedValues();
  else initWithFFTSavedValues();

  // 8. The application reaches the chart through this screen.
  if (auto app = AppDelegate::shared()) app->setAnalyzerVC(shared_from_this());

  // 9. The current-input bar under the maximise button, hidden until it has a profile to show.
  vInputPlank = CurrentInputTypePlankView::initWithFrame(CGRectZero);
  vInputPlank->setHidden(true);
  vInputPlank->setTranslatesAutoresizingMaskIntoConstraints(false);
  vInputPlank->setBackgroundColor(hex(0x5A9B0E));
  vInputPlank->addTarget(self(), &ViewController::openInputsView, UIControlEventTouchUpInside);
  view()->addSubview(vInputPlank);
  if (auto maximize = btnMaximizeMinimize.lock()) {
    NSLayoutConstraint::activateConstraints({
        vInputPlank->trailingAnchor().constraintEqualToAnchor(maximize->trailingAnchor()),
        vInputPlank->topAnchor().constraintEqualToAnchor(maximize->bottomAnchor(), 8),
        vInputPlank->heightAnchor().constraintEqualToConstant(28),
        vInputPlank->widthAnchor().constraintLessThanOrEqualToAnchorMultiplier(view()->widthAnchor(), 0.5),
    });
  }
  // 10. The automatic profile logic (a build setting, off by default): the popup for a newly
  // connected microphone over this screen, and the input's default profile.
  newInputObserver_ = InputsPopup::observeNewInputDevices(shared_from_this());
  InputsPopup::initiateDefaultProfile(shared_from_this());
}

// The line and fill styling of the plot (set-up and the FFT peaks button).
void ViewController::applyChartLineStyle() {
  auto inner = spectrumView->spectrumView();
  if (!inner) return;
  inner->mainFillColor = hex(0x4F4DB8);
  inner->mainChartColor = hex(0xFFFD00);
  inner->supportChartColor = hex(0x31F1E8);
  inner->supportFillColor = hex(0x16CFBD, 0.32f);
  inner->mainChartWidth = 2;
  inner->supportChartWidth = 1;
}

void ViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  spectrumView->setDelegate(std::static_pointer_cast<DataProvideDelegate>(self()));
  // The profile screens show the navigation bar; the analyser fills the screen without it.
  if (auto nav = navigationController()) nav->setNavigationBarHidden(true, animated);
}

void ViewController::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  startProcessing(btnStartStop);
}

void ViewController::viewDidDisappear(bool animated) {
  UIViewController::viewDidDisappear(animated);
  spectrumView->stopAnimation();
}

// ---- Modes ----

// A mode chosen in the menu starts with an empty chart: one that is stopped shows the new mode
// empty until it runs again, not the old mode's picture on the new axes, nor its readouts.
void ViewController::switchToOctaveMode() {
  settings::store(settings::kCurrentType, "octave");
  initWithOctaveSavedValues();
  emptyChartForNewMode();
}

void ViewController::switchToFFTMode() {
  settings::store(settings::kCurrentType, "fft");
  initWithFFTSavedValues();
  emptyChartForNewMode();
}

void ViewController::switchToSpectrographMode() {
  settings::store(settings::kCurrentType, "sonogram");
  initWithSpectrographSavedValues();
  emptyChartForNewMode();
}

void ViewController::emptyChartForNewMode() {
  if (spectrumView->isStarted()) spectrumView->clearChart();
  else showEmptyChartIfStopped();
}

void ViewController::showEmptyChartIfStopped() {
  if (spectrumView->isStarted()) return;
  clearPictureReadouts();
  spectrumView->clearChart();
}

void ViewController::clearPictureReadouts() {
  lblFloatingLeft->setText(kNoPeakReadout);
  spectrumView->removeMarker();
  onRemoveMarker();
}

void ViewController::showGraphControls(bool show) {
  for (const auto& v : std::vector<UIViewRef>{lblFloatingLeft, lblFloatingRight, btnAim}) v->setHidden(!show);
  if (auto maximize = btnMaximizeMinimize.lock()) maximize->setHidden(!show);
  if (auto help = btnDBAHelp.lock()) help->setHidden(!show);
}

void ViewController::initWithOctaveSavedValues() {
  showGraphControls(true);
  spectrumView->setHoldMinimus(false);
  spectrumView->setNeedFill(true);
  spectrumView->setGraphMode();

  const int32_t size = settings::fftSizeInUse(settings::kOctaveFFTSize);
  spectrumView->setMathParams(MathParams{0, size});

  if (settings::stored(settings::kOctaveGraphType) == "bars") {
    spectrumView->setGraphType(1);
    btnGraph->setTitle1(L("GRAPH"), L("Bars"));
  } else {
    spectrumView->setGraphType(0);
    spectrumView->setNeedSpline(true);
    btnGraph->setTitle1(L("GRAPH"), L("Line"));
  }
  btnFFT->setTitle1(L("FFT SIZE"), std::to_string(size));
  if (settings::stored(settings::kOctaveHoldPeaks) == "Hold") {
    spectrumView->setHoldMaximus(true);
    btnHold->setTitle1(L("PEAKS"), L("Hold"));
  } else {
    spectrumView->setHoldMaximus(false);
    btnHold->setTitle1(L("PEAKS"), L("Off"));
  }
  const std::string octave = settings::stored(settings::kOctaveType);
  if (octave == "octave3") {
    spectrumView->setScaleType(3);
    btnOctaves->setTitle1(L("OCTAVE"), L("1/3"));
  } else if (octave == "octave6") {
    spectrumView->setScaleType(4);
    btnOctaves->setTitle1(L("OCTAVE"), L("1/6"));
  } else {
    spectrumView->setScaleType(2);
    btnOctaves->setTitle1(L("OCTAVE"), L("Full"));
  }
}

// The stored window, when it is one of the six: window number with the stored frame size, and
// the title. Any other name leaves both as they were.
void ViewController::applyFFTWindowFromStore() {
  const std::string name = settings::stored(settings::kFFTWindow);
  if (auto number = windowNumber(name)) {
    spectrumView->setMathParams(MathParams{*number, settings::fftSizeInUse(settings::kFFTSize)});
    btnGraph->setTitle1(L("WINDOW"), name);
  }
}

void ViewController::applyFFTScaleFromStore() {
  if (settings::stored(settings::kFFTScale) == "linear") {
    spectrumView->setScaleType(0);
    btnOctaves->setTitle1(L("SCALE"), L("Linear"));
  } else {
    spectrumView->setScaleType(1);
    btnOctaves->setTitle1(L("SCALE"), L("Logarithm"));
  }
}

void ViewController::applyFFTHoldPeaks(const std::string& value) {
  struct Row {
    bool holdMax, holdMin, fill;
    const char* title;
  };
  Row row = value == "Max"      ? Row{true, false, true, "Max"}
            : value == "MaxMin" ? Row{true, true, true, "Max + Min"}
            : value == "Line"   ? Row{false, false, false, "Line"}
                                : Row{false, false, true, "Off"};
  spectrumView->setHoldMaximus(row.holdMax);
  spectrumView->setHoldMinimus(row.holdMin);
  spectrumView->setNeedFill(row.fill);
  btnHold->setTitle1(L("PEAKS"), L(row.title));
}

void ViewController::initWithFFTSavedValues() {
  spectrumView->setNeedSpline(false);
  spectrumView->setGraphType(0);
  showGraphControls(true);
  spectrumView->setGraphMode();
  applyFFTWindowFromStore();
  btnFFT->setTitle1(L("FFT SIZE"), std::to_string(settings::fftSizeInUse(settings::kFFTSize)));
  applyFFTHoldPeaks(settings::stored(settings::kFFTHoldPeaks));
  applyFFTScaleFromStore();
}

void ViewController::initWithSpectrographSavedValues() {
  settings::store(settings::kCurrentType, "sonogram");
  spectrumView->setSonogramMode(CGSizeMake(0, 10));
  showGraphControls(false);
  // The sonogram hides the maximise button: a chart left maximised would keep the bottom bar, with
  // the palette and start/stop, out of reach for as long as the sonogram shows.
  if (auto maximize = btnMaximizeMinimize.lock(); maximize && maximize->isSelected()) {
    setChartMaximised(*maximize, false);
  }
  lblCurrentReadings->setHidden(true);
  lblMaxMin->setHidden(true);
  const std::string name = settings::stored(settings::kSpectrogramPalette);
  if (name == "bw") {
    spectrumView->setSonogramColors(getBWSonogramColors());
    btnHold->setTitle1(L("PALETTE"), L("B&W"));
  } else if (name == "lava") {
    spectrumView->setSonogramColors(getLavaSonogramColors());
    btnHold->setTitle1(L("PALETTE"), L("Lava"));
  } else {
    spectrumView->setSonogramColors(getHeatSonogramColors());
    btnHold->setTitle1(L("PALETTE"), L("Heat"));
  }
  applyFFTWindowFromStore();
  applyFFTScaleFromStore();
  const int32_t size = settings::fftSizeInUse(settings::kFFTSize);
  btnFFT->setTitle1(L("FFT SIZE"), std::to_string(size));
  MathParams params = spectrumView->mathParams();
  params.frameSize = size;
  spectrumView->setMathParams(params);
}

// ---- Small actions ----

void ViewController::btnAimTap(const std::shared_ptr<UIButton>&) {
  const bool octave = currentType() == "octave";
  auto inner = spectrumView->spectrumView();
  if (btnAim->isSelected()) {
    btnAim->setSelected(false);
    defaults()->setBool(false, settings::kAimEnabled);
    defaults()->synchronize();
    if (octave && inner) {
      inner->barsColor = hex(0x31F1E8);
      inner->maxBarColor = hex(0x31F1E8);
    }
    spectrumView->setNeedPeakMarker(false);
  } else {
    btnAim->setSelected(true);
    if (octave) {
      defaults()->setBool(true, settings::kAimEnabled);
      defaults()->synchronize();
      if (inner) {
        inner->barsColor = hex(0x31F1E8);
        inner->maxBarColor = hex(0xFFFD00);
      }
    }
    spectrumView->setNeedPeakMarker(true);
  }
  vlxEventTracer::addEvent("aimTap");
}

void ViewController::showRightMenu(const std::shared_ptr<UIButton>&) {
  // Opens or closes the side menu of the container that holds the screen (none: nothing happens,
  // as a message to nothing on the phone).
  if (auto menu = sideMenuController(*this)) menu->rightPanelToggleAnimated(true);
}

void ViewController::showdBAHelp(const std::shared_ptr<UIButton>&) {
  auto help = UIStoryboard::storyboardWithName("dbaHelpVC")->instantiateInitialViewController();
  if (help) presentViewController(help, true);
}

void ViewController::openInputsView() {
  if (auto menu = sideMenuController(*this)) menu->setFrontViewPosition(PositionClosed, true);
  // The profile list, pushed on this screen's navigation controller.
  if (!UIStoryboard::hasStoryboardNamed("AppSettings")) return;
  auto list = UIStoryboard::storyboardWithName("AppSettings")->instantiateViewControllerWithIdentifier("inputProfilesTable");
  if (auto nav = navigationController()) nav->pushViewController(list, true);
}
