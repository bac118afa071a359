#pragma once
// The view a screen places wherever a spectrum chart appears. It owns one spectrum view (which
// runs its own audio engine and draws the curve, the bars or the sonogram) and one sonogram scale
// view; around the spectrum view it draws axes, grid and labels, and it turns touches into a
// marker and readings. Screens configure a chart only through it. Each frame's results come up
// from the spectrum view (MaximusDelegate) and go on to the screen (DataProvideDelegate); a data
// timer of its own sends the screen a list of running bin-level maxima.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AreaParams.h"
#include "analysis/MathParams.h"
#include "analysis/UIScaleView.h"
#include "analysis/UISpectrumView.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIFont.h"

class NSTimer;
class NoAudioInputView;
class SAudioController;
class UISpectrumSonogramScaleView;

// A chart's level reports, for screens that only need the levels (the tuning screen).
class FFTValuesDelegate {
 public:
  virtual ~FFTValuesDelegate() = default;
  // The ten full-octave levels of a frame.
  virtual void fftValues(const std::vector<float>& levels) = 0;
  // Optional: the A- and C-weighted totals of a frame.
  virtual void dbaValue(float /*value*/) {}
  virtual void dbcValue(float /*value*/) {}
  // The chart measures nothing now (its input is gone or delivers nothing): no level it reported
  // holds any more, and none comes until it measures again. Also sent to a receiver set while so.
  virtual void levelsUnavailable() {}
};

// Everything a chart reports to the screen that shows it. Per frame, after fftValues:
// selectedValues, maximusArray, dbaValue, dbbValue, dbcValue, dbzValue.
class DataProvideDelegate : public FFTValuesDelegate {
 public:
  // The data tick's bin list: value records of the running maxima.
  virtual void provideData(const std::vector<Value>& values) = 0;
  // maximusArray:HoldedMaximus:HoldedMinimus: — at most one peak record each.
  virtual void maximusArray(const std::vector<Value>& maximus, const std::vector<Value>& holdedMaximus,
                            const std::vector<Value>& holdedMinimus) = 0;
  // Readings at a touched position (current, held maximum, held minimum; each when available).
  virtual void onTouch(const std::vector<Value>& values) = 0;
  virtual void onTouchEnd() = 0;
  // A moving touch left the spectrum view without a visible marker.
  virtual void onRemoveMarker() = 0;
  void dbaValue(float value) override = 0;
  virtual void dbbValue(float value) = 0;
  void dbcValue(float value) override = 0;
  virtual void dbzValue(float value) = 0;
  // Readings at the marker, each frame; none when the series has no value there.
  virtual void selectedValues(const std::optional<std::vector<Value>>& values) = 0;
  virtual void currentLeftPaddingChanged(float padding) = 0;
};

class UISpectrumContainerView : public UIScaleView, public MaximusDelegate {
 public:
  // initWithFrame: followed by initHelper: makes the spectrum view (and so its engine and frame
  // timer) and starts the data timer.
  static std::shared_ptr<UISpectrumContainerView> create(const CGRect& frame);
  explicit UISpectrumContainerView(const CGRect& frame);
  ~UISpectrumContainerView() override;

  void initHelper();

  // ---- Settings stored and forwarded to the spectrum view ----
  AreaParams areaParams() const { return areaParams_; }
  void setAreaParams(AreaParams params);
  MathParams mathParams() const { return mathParams_; }
  void setMathParams(MathParams params);
  int32_t scaleType() const { return scaleType_; }
  void setScaleType(int32_t scaleType);
  int32_t graphType() const { return graphType_; }
  void setGraphType(int32_t graphType);

  // ---- Forwarded only ----
  void setSonogramColors(const std::vector<SonogramColorStop>& colors);
  void setMainChartColor(const UIColorRef& color, float width);
  void setSupportChartColor(const UIColorRef& color, float width);
  void setMarkerColor(const UIColorRef& color, float width);
  void setPeakMarkerColor(const UIColorRef& color, float width);
  void setMainChartFill(const UIColorRef& color);
  void setSupportChartFill(const UIColorRef& color);
  void setNeedPeakMarker(bool need);
  void setNeedFill(bool need);
  void setNeedSpline(bool need);
  void setHoldMaximus(bool hold);
  void setNeedHold(bool hold) { setHoldMaximus(hold); }
  void setHoldMinimus(bool hold);
  void setAnimationInterval(double seconds);
  void setSonogramUpdateInterval(double seconds);

  // ---- Modes ----
  void setGraphMode();
  void setSonogramMode(CGSize paddings);
  // Forgets what the plot shows (the spectrum view's series and held peaks, the sonogram's
  // columns) and draws it empty in the current mode; the next frame draws afresh. A screen that
  // changes the mode while the chart is stopped shows the new mode empty, not the old picture.
  void clearChart();
  // Takes the touch marker away, as before the first touch: the spectrum view shows none from its
  // next drawing (clearChart, or a frame) until a touch places it again.
  void removeMarker();

  // ---- Processing ----
  // `recordUrl` empty: no metering recorder is made.
  void startAnimation(const std::string& recordUrl);
  void stopAnimation();
  void pauseAnimation();
  void startDataProvide();
  void stopDataProvide();
  double dataProvideInterval() const { return dataProvideInterval_; }
  void setDataProvideInterval(double seconds);
  // The data timer's action.
  void provideData();
  bool isStarted() const { return isStarted_; }
  bool isDataProvideRunning() const { return dataProvideTimer_ != nullptr; }
  double dataProvideStarted() const { return dataProvideStarted_; }

  // ---- Calibration and file input ----
  void setLinearCalibrationValues(const Value& values);
  void setLinearCalibrationFile(const std::string& fileUrl);
  void setSplineCalibrationFile(const std::string& fileUrl);
  std::optional<Value> currentCalibrationValues() const;
  void setInputFile(const std::string& fileUrl);
  void setCurrentPositionPercent(float percent);
  float getCurrentPositionPercent() const;

  // ---- Reports from the spectrum view (MaximusDelegate) ----
  void setMaximus(const std::vector<Value>& maximus, const std::vector<Value>& holdedMax,
                  const std::vector<Value>& holdedMin, float dba, float dbb, float dbc, float dbz) override;
  void setFullOctaveOutput(const std::vector<float>& levels) override;
  void measurementRestarted() override;

  // ---- The engine's input ----
  // Why the chart's engine has no audio input (empty while it has one, and while it is stopped).
  // While there is a reason the chart shows "No audio input" and the reason over its dimmed plot
  // (noAudioInputView), and keeps drawing; the engine picks its input up again by itself.
  // Meanwhile no frame reaches the receivers.
  std::string audioInputProblem() const;
  bool hasAudioInput() const;
  // Whether the levels the chart last reported are of the input it measures now. Not while it has
  // no input, nor from a start (or a move of the capture to another source) until its first frame:
  // then the plot shows no current level and the receivers were told levelsUnavailable, once. A
  // chart stopped keeps what it had.
  bool hasCurrentLevels() const { return !toldLevelsUnavailable_ && hasAudioInput(); }
  const std::shared_ptr<NoAudioInputView>& noAudioInputView() const { return noAudioInputView_; }
  // Shows or hides noAudioInputView for the engine's current state (run on every change the
  // engine posts, and at layout).
  void updateAudioInputState();

  // ---- Layout and drawing ----
  void layoutSubviews() override;
  CGRect getUpdatedSpectrumRect();
  void drawRect(const CGRect& rect) override;
  void drawScale(const CGRect& rect);
  void drawSonogramBg(const CGRect& rect) {}
  NSTextAttributes horizontalAttrsDictionary() const;
  NSTextAttributes verticalAttrsDictionary() const;

  // ---- Touches and markers ----
  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void touchToDelegate(const UITouch& touch);
  // Readings at the marker, or none when the current series has no value there.
  std::optional<std::vector<Value>> getCurrentValues();

  // ---- Properties ----
  const std::shared_ptr<UISpectrumSonogramScaleView>& sonogramScaleView() const { return sonogramScaleView_; }
  const std::shared_ptr<UISpectrumView>& spectrumView() const { return spectrumView_; }
  // The screen the chart reports to, and a receiver of its levels alone (held weakly). A receiver
  // set while the chart has no current levels is told so at once.
  std::weak_ptr<DataProvideDelegate> delegate() const { return delegate_; }
  void setDelegate(const std::shared_ptr<DataProvideDelegate>& delegate);
  std::weak_ptr<FFTValuesDelegate> fftDelegate() const { return fftDelegate_; }
  void setFftDelegate(const std::shared_ptr<FFTValuesDelegate>& delegate);
  // The spectrum view's audio engine; none without a view.
  std::shared_ptr<SAudioController> audioController() const;
  bool needShowScale() const { return needShowScale_; }
  void setNeedShowScale(bool show) { needShowScale_ = show; }
  CGSize paddings() const { return paddings_; }
  void setPaddings(CGSize paddings) { paddings_ = paddings; }
  float currentLeftPadding() const { return currentLeftPadding_; }

  // Style (the axes read them when they draw).
  UIColorRef axisColor, subAxisColor, subAxisColorHorizontal, axisLabelsColor, axisVerticalLabelsColor;
  double axisWidth = 2, subAxisWidth = 1, subAxisWidthHorizontal = 0.5;
  UIFontRef axisLablesFont, axisVerticalLablesFont;
  int32_t verticalLabelsCount = 10, horizontalLabelsCount = 15;
  // Stored only; the marker is drawn by the spectrum view.
  UIColorRef markerViewBackgroundColor, markerAxisColor, markerLabelsColor;
  UIFontRef markerFont;

  // getDefaultSonogramColors: transparent at 0, dark red, blue, cyan at 1.
  static std::vector<SonogramColorStop> getDefaultSonogramColors();

  // The data tick's running maximum per bin, shared by every container of the process.
  static const std::vector<float>& providedLevelMaxima();
  static void resetProvidedLevelMaxima();

  // The buffer the data tick computes into (read by tests).
  const std::vector<float>& fftData() const { return l_fftData; }

  // What drawScale draws, computed from the current style and the given rectangle (view
  // coordinates, y down). Tests read it; drawScale draws exactly these.
  struct ScaleLabel {
    std::string text;
    float value = 0;  // level in dB or frequency in Hz
    double x = 0;     // level labels: tick y in x's place is not used; see `y`
    double y = 0;
    // Where the text's top-left corner is drawn: at its place on the scale, moved inward only as
    // far as it takes to keep the text whole inside the view when its place lies inside it.
    CGPoint origin{0, 0};
  };
  struct ScaleLine {
    CGPoint from, to;  // flipped coordinates (y up from the bottom edge) for grid and frame
    double width = 1;
    bool antialias = true;
  };
  struct ScalePlan {
    std::vector<ScaleLabel> levelLabels;      // y = the label's centre line
    std::vector<ScaleLabel> frequencyLabels;  // x = the label's centre
    std::vector<ScaleLine> levelGrid, frequencyGrid;
    std::vector<ScaleLine> frame;             // bottom, left, right, top
  };
  ScalePlan computeScale(const CGRect& rect);

 private:
  void placeLabelTexts(ScalePlan& plan, double W, double H) const;
  void addFrequencyGrid(ScalePlan& plan, double W, double H, double xScale, double fStep) const;
  std::shared_ptr<UISpectrumContainerView> self();
  void tellLevelsUnavailable();
  // The levels shown are not of the input measured now: the receivers are told, once until a frame.
  void levelsGone();
  // Whether a frame may reach the receivers; one that does makes their levels current again.
  bool acceptFrame();

  std::weak_ptr<DataProvideDelegate> delegate_;
  std::weak_ptr<FFTValuesDelegate> fftDelegate_;
  // Whether the receivers were told that the chart has no current levels, since its last frame.
  bool toldLevelsUnavailable_ = false;

  std::vector<float> l_fftData;
  // The list the data tick hands its delegate: one {frequency, volume} record per bin.
  std::vector<Value> providedList_;
  std::shared_ptr<NSTimer> dataProvideTimer_;
  double dataProvideInterval_ = 0;
  double dataProvideStarted_ = 0;
  float currentLeftPadding_ = 0;
  bool isStarted_ = false;

  std::shared_ptr<UISpectrumSonogramScaleView> sonogramScaleView_;
  std::shared_ptr<NoAudioInputView> noAudioInputView_;
  NSObserverTokenRef audioInputObserver_;
  bool needShowScale_ = false;
  CGSize paddings_{0, 0};
  std::shared_ptr<UISpectrumView> spectrumView_;
  AreaParams areaParams_{-130, -10};
  MathParams mathParams_{0, 0};
  int32_t graphType_ = 0;
  int32_t scaleType_ = 1;
};
