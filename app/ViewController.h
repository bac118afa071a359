#pragma once
// The analyser screen. It shows the chart container in one of three modes ("octave" real-time
// bands, "fft" plot, "sonogram"), restores the mode and every chart setting from the user
// defaults when its view loads, starts the chart each time it appears and stops it when it
// disappears. The bottom bar's buttons step the settings through fixed cycles and store them; the
// labels over the chart show the A-weighted level, the peak and the readings at a touch.
//
// Made by the main storyboard, which lays out the view and connects the outlets below. It is the
// delegate of its chart container, which reports every frame on the main thread. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/UISpectrumContainerView.h"
#include "app/UIButtonWithTwoLabels.h"
#include "app/UILabelWithMargin.h"
#include "platform/uikit/NSLayoutConstraint.h"
#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIControl.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIViewController.h"
#include "profiles/CurrentInputTypePlankView.h"

class ViewController : public UIViewController, public DataProvideDelegate {
 public:
  ViewController() = default;
  ~ViewController() override;

  // ---- Outlets (connected by the storyboard) ----
  std::weak_ptr<UIView> viewBottom;
  std::shared_ptr<UISpectrumContainerView> spectrumView;
  std::shared_ptr<UIButtonWithTwoLabels> btnGraph, btnOctaves, btnFFT, btnHold;
  std::weak_ptr<UIButton> btnMaximizeMinimize;
  std::weak_ptr<NSLayoutConstraint> btmConstraint;
  std::shared_ptr<UIView> mainView;
  NSLayoutConstraintRef spectrumViewRightPadding;
  NSLayoutConstraintRef lcVolumeBackground;
  std::shared_ptr<UILabel> lblFloatingLeft;
  NSLayoutConstraintRef lcBottomBarIndent;
  std::shared_ptr<UILabel> lblCurrentReadings;
  NSLayoutConstraintRef lcBottomBarWithButtonsIndent;
  std::shared_ptr<UIButton> btnAim;
  std::shared_ptr<UILabel> lblFloatingRight;
  std::shared_ptr<UILabelWithMargin> lblMaxMin;
  std::shared_ptr<UIButton> btnStartStop;
  // The dB-A help button, shown and hidden with the dB-A readout it explains.
  std::weak_ptr<UIButton> btnDBAHelp;
  // The current-input bar (under the maximise button), hidden until a profile is enabled.
  std::shared_ptr<CurrentInputTypePlankView> vInputPlank;

  // ---- Life cycle ----
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // ---- Modes (called by the side menu) ----
  void switchToOctaveMode();
  void switchToFFTMode();
  void switchToSpectrographMode();
  void initWithOctaveSavedValues();
  void initWithFFTSavedValues();
  void initWithSpectrographSavedValues();
  static std::vector<SonogramColorStop> getBWSonogramColors();
  static std::vector<SonogramColorStop> getLavaSonogramColors();
  static std::vector<SonogramColorStop> getHeatSonogramColors();

  // ---- Small actions ----
  void btnAimTap(const std::shared_ptr<UIButton>& sender);
  void showRightMenu(const std::shared_ptr<UIButton>& sender);
  void showdBAHelp(const std::shared_ptr<UIButton>& sender);
  void openInputsView();
  void btnSpectrograph(const std::shared_ptr<UIButton>& sender) {}

  // ---- Bottom bar ----
  void startProcessing(const std::shared_ptr<UIButton>& sender);
  void btnStartStopTap(const std::shared_ptr<UIButton>& sender);
  void changeGraphType(const std::shared_ptr<UIButton>& sender);
  void changeOctaveMode(const std::shared_ptr<UIButton>& sender);
  void changeFFTSize(const std::shared_ptr<UIButton>& sender);
  void changePeakMode(const std::shared_ptr<UIButton>& sender);
  void btnMinimizeMaximizeTap(const std::shared_ptr<UIButton>& sender);
  // The FFT sizes the size button steps through in a mode ("octave" or another) on a screen of
  // the width; the last entry is followed by the first, except in the narrow non-octave cycle
  // whose wrap goes to 512.
  static std::vector<int32_t> fftSizeCycle(bool octave, double screenWidth);
  static int32_t nextFFTSize(bool octave, double screenWidth, int32_t current, bool* onCycle = nullptr);

  // ---- Readouts (DataProvideDelegate) ----
  void provideData(const std::vector<Value>& values) override {}
  void maximusArray(const std::vector<Value>& maximus, const std::vector<Value>& holdedMaximus,
                    const std::vector<Value>& holdedMinimus) override;
  void onTouch(const std::vector<Value>& values) override;
  void onTouchEnd() override {}
  void onRemoveMarker() override;
  void dbaValue(float value) override;
  void dbbValue(float) override {}
  void dbcValue(float) override {}
  void dbzValue(float) override {}
  void selectedValues(const std::optional<std::vector<Value>>& values) override;
  void currentLeftPaddingChanged(float padding) override;
  void fftValues(const std::vector<float>&) override {}
  // The chart measures nothing (it says why over its plot): every level shown reads "--" until it
  // measures again, the touch and max/min readouts included.
  void levelsUnavailable() override;

  // What the dB-A and peak readouts show while no frame has measured anything.
  static constexpr const char* kNoLevelReadout = "-- dB-A";
  static constexpr const char* kNoPeakReadout = "Peak: --";
  // The dB-A label's number for the A-weighted total L and the recorder level P.
  static int dbaReadout(float level, int recorderPower);
  // The name of the nearest equal-tempered note ("A4" for 440 Hz); empty outside the table.
  static std::string frequencyToNote(float frequency);

 private:
  std::string currentType() const;
  // The readouts, the aim, maximise and help buttons: shown for the graph modes, hidden for the sonogram.
  void showGraphControls(bool show);
  // Selects the maximise button and slides both bottom bars away, or the reverse, animated.
  void setChartMaximised(UIButton& button, bool maximised);
  std::shared_ptr<ViewController> self();
  void applyFFTHoldPeaks(const std::string& stored);
  void applyFFTWindowFromStore();
  void applyFFTScaleFromStore();
  void applyChartLineStyle();
  // The touch readout for a reading (its level "--" while the chart measures nothing).
  void showReading(const Value& record);
  // The max/min readout, while shown, with "--" for its levels.
  void showHeldLevelsUnavailable();
  // A stopped chart keeps its last frame's picture, drawn for the settings of then. After a change
  // of the axes or of the kind of picture (scale, octave bands, line or bars) no frame comes to
  // draw it again, so a stopped chart shows the new setting empty instead, and the readouts that
  // describe the old picture go with it. A running chart draws the new setting from its next frame
  // and keeps everything.
  void showEmptyChartIfStopped();
  // A new mode's chart starts empty, running or not; stopped, without the old picture's readouts.
  void emptyChartForNewMode();
  // The readouts of the picture no longer shown: the peak reads as before the first frame, and the
  // touch marker goes with its readings. The dB-A level stays: it is the sound's, whatever the
  // picture.
  void clearPictureReadouts();
  // The frequency the touch readout names (whole Hz), kept to name it without a level.
  std::optional<int> readingFrequency_;
  // The announcements of a new microphone, observed while the automatic profile logic is on.
  NSObserverTokenRef newInputObserver_;
};
