// The layout of the analyser screen and the main storyboard's scene graph.
//
// The screen, in points (568 × 320 shown; every width from 480 up fits):
//   - the chart fills the screen left of a 50-point column, under a 38-point strip of readouts
//     and above the bottom bar;
//   - the right column holds the side-menu, aim and maximise buttons (the current-input bar goes
//     under the maximise button);
//   - the readouts: dB-A (with its help button) and peak in the strip, the touch and max/min
//     readings under them over the chart's top-left corner;
//   - the bottom bar, 50 points high, holds start/stop and the four setting buttons, each a
//     quarter of the width less 20 (at least 100 at 480 points, the background image's caps).
// Maximising moves both bottom bars 69 points down and the chart grows to the screen's bottom.
//
// The scene graph: the side-menu container is the initial scene; it puts the navigation
// controller (the analyser as its root, its bar hidden) in front and the side menu at the right.
#include "app/storyboards/MainStoryboard.h"

#include "app/storyboards/AppSettingsStoryboard.h"
#include "app/UIColorExtension.h"
#include "app/ViewController.h"
#include "app/storyboards/SideMenuStoryboards.h"
#include "app/storyboards/StoryboardSupport.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIColorNamed.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStoryboard.h"

namespace {

using storyboard::constrained;
using storyboard::roundButton;

constexpr double kColumnWidth = 50;      // the right column of round buttons
constexpr double kRoundButton = 44;
constexpr double kBarHeight = 50;        // the bottom bar
constexpr double kSettingHeight = 44;    // the setting buttons
constexpr double kGap = 6;
constexpr double kLabelHeight = 28;
constexpr double kReadoutStrip = 38;     // the readouts' strip above the chart

using C = NSLayoutConstraint;

template <class Label>
std::shared_ptr<Label> readout(std::shared_ptr<Label> label, uint32_t color, const char* font, double size) {
  label->setBackgroundColor(UIColorExtension::colorWithHexAndAlpha(0x14122E, 0.78f));
  label->setTextColor(UIColorExtension::colorWithHex(color));
  label->setFont(UIFont::fontWithName(font, size));
  label->setTextAlignment(NSTextAlignment::Center);
  label->setAdjustsFontSizeToFitWidth(true);
  label->setMinimumScaleFactor(0.6);
  return label;
}

// The chart, and the two bottom bars whose bottom constraints maximising moves: the strip behind
// and the holder of the buttons (answered).
std::shared_ptr<UIView> addChartAndBottomBars(ViewController& vc, const UIViewRef& root) {
  auto chart = constrained(root, UISpectrumContainerView::create(root->bounds()));
  vc.spectrumView = chart;

  // The bottom bars: the strip behind, and the holder of the buttons.
  auto strip = constrained(root, std::make_shared<UIView>());
  strip->layer()->setContents(UIImage::imageNamed("bottomBarBackground"));
  vc.viewBottom = strip;
  auto bar = constrained(root, std::make_shared<UIView>());

  vc.lcBottomBarIndent = C::constraintWithItem(root, NSLayoutAttribute::Bottom, NSLayoutRelation::Equal, strip,
                                               NSLayoutAttribute::Bottom, 1, 0);
  vc.lcBottomBarWithButtonsIndent = C::constraintWithItem(root, NSLayoutAttribute::Bottom, NSLayoutRelation::Equal, bar,
                                                          NSLayoutAttribute::Bottom, 1, 0);
  vc.spectrumViewRightPadding = C::constraintWithItem(root, NSLayoutAttribute::Trailing, NSLayoutRelation::Equal, chart,
                                                      NSLayoutAttribute::Trailing, 1, kColumnWidth);
  auto chartBottom = chart->bottomAnchor().constraintEqualToAnchor(bar->topAnchor());
  chartBottom->setPriority(UILayoutPriorityDefaultHigh);  // the chart grows into a bar that moved away...
  C::activateConstraints({
      vc.lcBottomBarIndent, vc.lcBottomBarWithButtonsIndent, vc.spectrumViewRightPadding,
      strip->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
      strip->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor()),
      strip->heightAnchor().constraintEqualToConstant(kBarHeight),
      bar->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
      bar->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor()),
      bar->heightAnchor().constraintEqualToConstant(kBarHeight),
      chart->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
      chart->topAnchor().constraintEqualToAnchor(root->topAnchor(), kReadoutStrip),
      chartBottom,
      chart->bottomAnchor().constraintLessThanOrEqualToAnchor(root->bottomAnchor()),  // ...but not off screen
  });
  return bar;
}

// Start/stop and the four setting buttons, left to right along the bar.
void addBottomBarButtons(ViewController& vc, const std::shared_ptr<ViewController>& vcRef, const UIViewRef& bar) {
  auto startStop = constrained(bar, roundButton("btnStart", "btnStop"));
  vc.btnStartStop = startStop;
  startStop->addTarget(vcRef, &ViewController::btnStartStopTap, UIControlEventTouchUpInside);
  auto bottomInset = bar->bottomAnchor().constraintEqualToAnchor(startStop->bottomAnchor(), 3);
  vc.btmConstraint = bottomInset;
  C::activateConstraints({
      startStop->leadingAnchor().constraintEqualToAnchor(bar->leadingAnchor(), kGap),
      startStop->widthAnchor().constraintEqualToConstant(kRoundButton),
      startStop->heightAnchor().constraintEqualToConstant(kRoundButton),
      bottomInset,
  });
  UIViewRef previous = startStop;
  std::shared_ptr<UIButtonWithTwoLabels>* slots[] = {&vc.btnGraph, &vc.btnOctaves, &vc.btnFFT, &vc.btnHold};
  void (ViewController::*actions[])(const std::shared_ptr<UIButton>&) = {
      &ViewController::changeGraphType, &ViewController::changeOctaveMode, &ViewController::changeFFTSize,
      &ViewController::changePeakMode};
  for (int i = 0; i < 4; ++i) {
    auto button = constrained(bar, std::make_shared<UIButtonWithTwoLabels>());
    *slots[i] = button;
    button->addTarget(vcRef, actions[i], UIControlEventTouchUpInside);
    C::activateConstraints({
        button->leadingAnchor().constraintEqualToAnchor(previous->trailingAnchor(), kGap),
        button->widthAnchor().constraintEqualToAnchorMultiplier(bar->widthAnchor(), 0.25, -20),
        button->heightAnchor().constraintEqualToConstant(kSettingHeight),
        button->centerYAnchor().constraintEqualToAnchor(startStop->centerYAnchor()),
    });
    previous = button;
  }
}

// The side-menu, aim and maximise buttons, top down in the right column.
void addRightColumn(ViewController& vc, const std::shared_ptr<ViewController>& vcRef, const UIViewRef& root) {
  auto menu = constrained(root, roundButton("btnMenu"));
  menu->addTarget(vcRef, &ViewController::showRightMenu, UIControlEventTouchUpInside);
  auto aim = constrained(root, roundButton("btnAim", "btnAimSelected"));
  vc.btnAim = aim;
  aim->addTarget(vcRef, &ViewController::btnAimTap, UIControlEventTouchUpInside);
  auto maximize = constrained(root, roundButton("btnMaximize", "btnMinimize"));
  vc.btnMaximizeMinimize = maximize;
  maximize->addTarget(vcRef, &ViewController::btnMinimizeMaximizeTap, UIControlEventTouchUpInside);
  UIViewRef above;
  for (const auto& button : {std::static_pointer_cast<UIView>(menu), std::static_pointer_cast<UIView>(aim),
                             std::static_pointer_cast<UIView>(maximize)}) {
    C::activateConstraints({
        button->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -(kColumnWidth - kRoundButton) / 2),
        button->widthAnchor().constraintEqualToConstant(kRoundButton),
        button->heightAnchor().constraintEqualToConstant(kRoundButton),
        above ? button->topAnchor().constraintEqualToAnchor(above->bottomAnchor(), kGap)
              : button->topAnchor().constraintEqualToAnchor(root->topAnchor(), kGap),
    });
    above = button;
  }
}

// The readouts above the chart's top-left corner. The dB-A label's leading edge follows the
// chart's left padding (lcVolumeBackground, set from the chart's reports).
void addReadouts(ViewController& vc, const std::shared_ptr<ViewController>& vcRef, const UIViewRef& root,
                 const UIViewRef& chart) {
  auto dba = constrained(root, readout(std::make_shared<UILabel>(), 0xFFFD00, "Avenir-Heavy", 15));
  vc.lblFloatingRight = dba;
  dba->setText(ViewController::kNoLevelReadout);
  vc.lcVolumeBackground = dba->leadingAnchor().constraintEqualToAnchor(chart->leadingAnchor(), 40);
  auto help = constrained(root, roundButton("btnHelp"));
  help->addTarget(vcRef, &ViewController::showdBAHelp, UIControlEventTouchUpInside);
  vc.btnDBAHelp = help;
  auto peak = constrained(root, readout(std::make_shared<UILabel>(), 0x31F1E8, "Avenir-Medium", 13));
  vc.lblFloatingLeft = peak;
  peak->setText(ViewController::kNoPeakReadout);
  auto current = constrained(root, readout(std::make_shared<UILabel>(), 0xFEFEFF, "Avenir-Medium", 13));
  vc.lblCurrentReadings = current;
  auto maxMin = constrained(root, readout(std::make_shared<UILabelWithMargin>(), 0xABE3FF, "Avenir-Medium", 12));
  vc.lblMaxMin = maxMin;
  C::activateConstraints({
      vc.lcVolumeBackground,
      dba->topAnchor().constraintEqualToAnchor(root->topAnchor(), (kReadoutStrip - kLabelHeight) / 2 + 1),
      dba->widthAnchor().constraintEqualToConstant(96),
      dba->heightAnchor().constraintEqualToConstant(kLabelHeight),
      help->leadingAnchor().constraintEqualToAnchor(dba->trailingAnchor(), 4),
      help->centerYAnchor().constraintEqualToAnchor(dba->centerYAnchor()),
      help->widthAnchor().constraintEqualToConstant(24),
      help->heightAnchor().constraintEqualToConstant(24),
      peak->leadingAnchor().constraintEqualToAnchor(help->trailingAnchor(), 8),
      peak->topAnchor().constraintEqualToAnchor(dba->topAnchor()),
      peak->widthAnchor().constraintEqualToConstant(180),
      peak->heightAnchor().constraintEqualToConstant(kLabelHeight),
      // The touch readout floats over the plot itself: the level label's leading edge stands 11
      // points left of the plot, over the level axis's labels, which the readout would hide.
      current->leadingAnchor().constraintEqualToAnchor(dba->leadingAnchor(), 11 + 4),
      current->topAnchor().constraintEqualToAnchor(dba->bottomAnchor(), kGap + 2),
      current->widthAnchor().constraintEqualToConstant(128),
      current->heightAnchor().constraintEqualToConstant(kLabelHeight),
      maxMin->leadingAnchor().constraintEqualToAnchor(current->trailingAnchor(), kGap),
      maxMin->topAnchor().constraintEqualToAnchor(current->topAnchor()),
      maxMin->widthAnchor().constraintEqualToConstant(180),
      maxMin->heightAnchor().constraintEqualToConstant(kLabelHeight),
  });
}

void buildAnalyzerView(UIViewController& controller) {
  auto& vc = dynamic_cast<ViewController&>(controller);
  auto vcRef = std::static_pointer_cast<ViewController>(vc.shared_from_this());
  auto root = std::make_shared<UIView>(UIScreen::mainScreen().bounds());
  root->setBackgroundColor(UIColorExtension::colorWithHex(0x0B0A1A));
  vc.setView(root);
  vc.mainView = root;
  auto bar = addChartAndBottomBars(vc, root);
  addBottomBarButtons(vc, vcRef, bar);
  addRightColumn(vc, vcRef, root);
  addReadouts(vc, vcRef, root, vc.spectrumView);
}

UIStoryboardDefinition mainStoryboard() {
  UIStoryboardDefinition d;
  d.initialScene = "navigation";
  d.scenes["navigation"].makeController = [](UIStoryboard& storyboard) {
    auto nav = UINavigationController::initWithRootViewController(storyboard.instantiateViewControllerWithIdentifier("analyzer"));
    nav->setNavigationBarHidden(true);
    // The bar shows only over the profile screens: it takes their colours.
    nav->setBarBackgroundColor(UIColorExtension::colorWithHex(0x111012));
    nav->setBarTintColor(UIColorNamed("brandRed"));
    return nav;
  };
  d.scenes["analyzer"].makeController = [](UIStoryboard&) { return std::make_shared<ViewController>(); };
  d.scenes["analyzer"].buildView = buildAnalyzerView;
  // The window's root: the side-menu container, the navigation controller in front.
  addSideMenuScenes(d, "navigation");
  return d;
}

}  // namespace

void registerAppStoryboards() {
  UIStoryboard::registerStoryboard(kMainStoryboardName, mainStoryboard);
  registerHelpStoryboards();
  registerAppSettingsStoryboard();
}
