#pragma once
// The shared chart: one chart container per process, reached by class name through
// SpectrumWrapper, so that code without a chart of its own (the input profiles, the tuning
// screen) can set a calibration, read it back and listen to levels. It owns its own spectrum view
// and audio engine, which run from its making to the end of the process; it is never placed in a
// window, and it is not the chart the analyser screen shows, so a calibration set here corrects
// this chart's analysis only.
//
// Besides the container's operations it keeps an input's overall gain (the global calibration
// coefficient, whole dB), which is added to this chart's correction at every frequency while set.
// The chart is used on the main thread; sharedInstance may be called from any thread, but the
// first call (which makes the views and timers) must come from the main thread.
#include <cstdint>
#include <memory>
#include <optional>

#include "analysis/UISpectrumContainerView.h"

class vlxSpectrum : public UISpectrumContainerView {
 public:
  // The shared chart, made by the first call with the frame (0, 0, main screen width, 100).
  static std::shared_ptr<vlxSpectrum> sharedInstance();
  // initWithFrame: — makes a chart container (its set-up included), makes it the shared instance,
  // applies the preset (colours, fonts, scale and graph type, holds; {0, 512} on screens 480 or
  // 568 points high) to the shared instance and returns it.
  static std::shared_ptr<vlxSpectrum> initWithFrame(const CGRect& frame);
  explicit vlxSpectrum(const CGRect& frame) : UISpectrumContainerView(frame) {}

  // Acts on the shared instance, whatever the receiver: turns it by −π/2 and gives it and its
  // spectrum view the frame.
  void rotateRightWithFrame(const CGRect& frame);

  static void setupIsWatchSession();
  static void setupIsForeground();
  static bool isWatchSession();

  // setGlobalCalibrationCoefficient: — the input's overall gain in dB, added to every correction
  // from now on; resetGlobalCalibrationCoefficient removes it.
  void setGlobalCalibrationCoefficient(int32_t gain);
  void resetGlobalCalibrationCoefficient();
  std::optional<int32_t> globalCalibrationCoefficient() const { return globalGain_; }

  // Forgets the shared instance (stopping its timers), so that the next sharedInstance makes a new
  // one, as in a new process. Main thread; for tests.
  static void resetForTesting();

 private:
  void applyPreset();
  std::optional<int32_t> globalGain_;
};
