#pragma once
// The analysing and drawing surface of every chart: turns each ready audio frame into a calibrated
// spectrum, weighted totals, a band or point series with held maximum and minimum, peak records,
// and an image drawn with OpenGL ES 1.1 (line traces, octave bars or a scrolling sonogram).
// Reports each frame to its container through MaximusDelegate.
//
// Every view runs its own audio engine, made at set-up and started and stopped with the frame
// timer; the frames come from that engine's buffer manager.
//
// Coordinates of all drawing are renderbuffer pixels, x from the left edge, y from the bottom.
// The display points, the peak cross, the bars and the marker are kept in the pixels of the
// renderbuffer they are drawn into: a layout that gives the view another size makes them again
// from the series measured so far (and the sonogram's ring keeps its columns, stretched to the new
// height) before anything is drawn, so no picture shows one size's geometry in another's frame.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/AreaParams.h"
#include "analysis/BandMapping.h"
#include "analysis/Calibration.h"
#include "analysis/FrequencyWeighting.h"
#include "analysis/MathParams.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/graphics/UIColor.h"
#include "platform/uikit/UIView.h"

class BufferManager;
class NSTimer;
class SAudioController;

// The container's side of the per-frame reports.
class MaximusDelegate {
 public:
  virtual ~MaximusDelegate() = default;
  // setMaximus:HoldedMax:HoldedMin:DBA:DBB:DBC:DBZ: — the view's own peak lists (copy to keep).
  virtual void setMaximus(const std::vector<Value>& maximus, const std::vector<Value>& holdedMax,
                          const std::vector<Value>& holdedMin, float dba, float dbb, float dbc, float dbz) = 0;
  // setFullOctaveOutput: — the ten full-octave levels.
  virtual void setFullOctaveOutput(const std::vector<float>& levels) = 0;
  // The input the view measures began anew (the capture started, or moved to another source):
  // the levels it reported before are not of it, and none of it comes before its first frame.
  virtual void measurementRestarted() {}
};

// One stop of the sonogram palette: a level on the 0..1 scale and its colour.
struct SonogramColorStop {
  float level = 0;
  UIColorRef color;
};

class UISpectrumView : public UIView {
 public:
  // initWithFrame: followed by initHelper. The view works without GL: then it analyses and reports
  // every frame but draws nothing.
  static std::shared_ptr<UISpectrumView> create(const CGRect& frame);
  explicit UISpectrumView(const CGRect& frame);
  ~UISpectrumView() override;

  void initHelper();

  // ---- Frame timer and pipeline ----
  // Starts the frame timer and the engine's capture, as a new input: a stop and a start begin the
  // measurement afresh (what the view showed goes at once).
  void startAnimation();
  void stopAnimation();
  void pauseAnimation() { stopAnimation(); }
  double animationInterval() const { return animationInterval_; }
  // A running view's frame timer takes the new pace at once; the capture is not touched.
  void setAnimationInterval(double interval);
  bool isAnimating() const { return animationTimer != nullptr; }
  // The frame timer's action: one frame of the pipeline when the buffer manager has one ready.
  void invalidate();
  // Frames normally come from the engine's buffer manager. A caller that feeds the view from a
  // buffer manager of its own names it here (it must outlive its use); none returns to the engine's.
  void setBufferManager(BufferManager* manager) { bufferManager_ = manager; }
  // The buffer manager the next tick reads: the one set above, else the engine's (none: no frames).
  BufferManager* frameSource() const;

  // ---- Audio engine ----
  const std::shared_ptr<SAudioController>& audioController() const { return audioController_; }
  void setAudioController(std::shared_ptr<SAudioController> controller);
  // Forwarded unchanged to the engine.
  void startFileRecord(const std::string& url);
  void stopFileRecord();
  void pauseFileRecord();
  // Steps 3 to 15 of a frame, from the frame's averaged dB spectrum (n = N/2 bins).
  void processSpectrum(std::span<const float> spectrum);
  // Takes the current levels off the plot (the series, its peak, the sonogram's next column) and
  // draws it without them; the held maximum and minimum stay. The next frame shows levels again.
  void forgetCurrentLevels();
  // The input of the levels the view shows (see BufferManager::measurement; 0 before the first).
  uint64_t shownMeasurement() const { return shownMeasurement_; }
  void resetMaxMinData();
  Value getLocalMaximumOf(std::span<const float> values);
  float getCurrentX() const { return bands_.getCurrentX(); }

  // ---- Band mapping and marker queries ----
  std::vector<float> processData(std::span<const float> levels);
  void processAndSendFullOctaveOutput(std::span<const float> levels);
  const std::vector<Octave>& getCurrentOctaves() { return bands_.getCurrentOctaves(); }
  int32_t getOctavesCount() const { return bands_.getOctavesCount(); }
  float xForIndex(int64_t index, int64_t length, bool isFirst) const { return bands_.xForIndex(index, length, isFirst); }
  int64_t getIndexForX(float x) const { return bands_.getIndexForX(x, l_fftData.size()); }
  float getFreqForX(float x) const { return bands_.getFreqForX(x, l_fftData.size()); }
  float getFreqMaximumForX(float x) { return bands_.getFreqMaximumForX(x, l_fftData.size()); }
  float getScale() const { return bands_.getScale(); }
  std::optional<Value> getValueByX(float x) { return bands_.getValueByX(x, l_fftData); }
  Value getValueMaximumByX(float x) { return bands_.getValueMaximumByX(x, l_maxData, l_fftData.size()); }
  Value getValueMinimumByX(float x) { return bands_.getValueMinimumByX(x, l_minData, l_fftData.size()); }
  void setMarkerAt(float x);
  bool isMarkerVisible() const { return l_markerPosition > 0; }
  // Takes the marker away until the next setMarkerAt with a position on the chart: no line is
  // drawn, and the frames keep it hidden, as before the first touch.
  void removeMarker();

  // ---- Rendering (graph and bars) ----
  // Makes the framebuffer at the view's new size and draws what the view shows at that size: the
  // series measured so far, and the sonogram's columns, none added.
  void layoutSubviews() override;
  void drawRect(const CGRect& rect) override;
  bool createFramebuffer();
  void destroyFramebuffer();
  void useFlatFramebuffer(bool flat);  // binds the flat framebuffer, or the one with the depth buffer
  void setupView();
  void drawView();
  void drawGraph();
  void drawArray(std::span<const DisplayPoint> points, bool fill, float lineWidth, const UIColorRef& lineColor,
                 const UIColorRef& fillColor);
  void fillArray(std::span<const DisplayPoint> upper, const std::vector<DisplayPoint>* lower, const UIColorRef& color);
  static std::vector<float> triangulateVertexArray(std::span<const DisplayPoint> upper,
                                                   const std::vector<DisplayPoint>* lower);
  void drawBars(std::span<const DisplayPoint> points, const UIColorRef& barColor, const UIColorRef& maxBarColor,
                bool needPlanches, std::span<const DisplayPoint> planches, const UIColorRef& planchesColor);
  bool isBarsType() const { return graphType_ == 1 && scaleType_ >= 2 && scaleType_ <= 4; }
  int getBarSpace() const { return scaleType_ == 4 ? 2 : 4; }
  // The bar highlighted by drawBars (an index into the bar points, 0 for none), from the last draw.
  size_t lastHighlightedBar() const { return lastHighlightedBar_; }

  // ---- Sonogram ----
  // Makes the ring for the framebuffer's size, every column showing the background.
  void setupViewForSpectrum();
  static int32_t getTexBufferSizeForHeight(int32_t height);
  void clearTexBuffer();
  void clearTextures();
  void freeSpectrumObjects();
  void cycleSpectrum();
  void renderFFTToTex();
  void drawSpectrogram();
  bool scrollShownColumns();
  void freeScrollImage();
  // The packed texel of level v (0..1 after the square root) under the current palette.
  uint32_t colorForLevel(float v) const;
  static std::vector<SonogramColorStop> defaultSonogramColors();

  // ---- Properties ----
  std::weak_ptr<MaximusDelegate> maximusDelegate;
  AreaParams areaParams() const { return bands_.areaParams(); }
  void setAreaParams(AreaParams params) { bands_.setAreaParams(params); }
  MathParams mathParams() const { return mathParams_; }
  // Stores the window and frame size and has the engine build its chain with them
  // (SAudioController::applyMathParams): a running chart goes on measuring the same input, and
  // shows what it showed until the first frame at the new setting.
  void setMathParams(MathParams params);
  uint64_t spectrumMode = 0;
  int32_t scaleType() const { return scaleType_; }
  void setScaleType(int32_t scaleType);
  int32_t graphType() const { return graphType_; }
  void setGraphType(int32_t graphType);
  bool needDrawPlot = true;
  bool needFill = false;
  bool isNeedFill() const { return needFill; }
  bool isHoldMaximum() const { return holdMaximum_; }
  void setHoldMaximum(bool hold);
  bool isHoldMinimum() const { return holdMinimum_; }
  void setHoldMinimum(bool hold);
  bool needSpline = true;
  bool isNeedSpline() const { return needSpline; }
  bool needPeakMarker = false;
  CalibrationRef currentCalibration;
  // A correction in dB added at every frequency on top of the calibration curve (an input's overall
  // gain); 0 by default.
  float calibrationOffset = 0;
  std::vector<SonogramColorStop> sonogramColors;
  double sonogramMinimumUpdateInterval = 0;
  UIColorRef mainChartColor, mainFillColor, supportChartColor, supportFillColor, markerColor, barsColor,
      maxBarColor, planchesColor, peakMarkerColor;
  float mainChartWidth = 2, supportChartWidth = 2, markerWidth = 2;
  std::optional<float> peakMarkerWidth;
  // Read here; set through setStopAllActions, which also hands the flag to the engine.
  bool stopAllActions = false;
  void setStopAllActions(bool stop);
  bool isSpectrogramInited = false;

  // ---- Frame state (read by the container and by tests; rebuilt every frame) ----
  int32_t backingWidth = 0, backingHeight = 0;
  EAGLContextRef context;
  GLuint viewFramebuffer = 0, viewRenderbuffer = 0, depthRenderbuffer = 0;
  GLuint flatFramebuffer = 0;  // the colour storage alone, for flat rectangles (see createFramebuffer)
  GLuint boundFramebuffer_ = 0;
  std::vector<DisplayPoint> l_mainData, l_maxesData, l_minsData;
  std::vector<Value> l_localMaximus, l_holdedMaximus, l_holdedMinimus;
  std::vector<float> l_maxData, l_minData, l_fftData;
  float l_markerPosition = -1;
  float l_currentSelectedX = 0;
  bool isMaxReady = false;
  // The sonogram's ring: one texture holding every column, one texel wide each (currentTexCount of
  // them; the texture's width is the next power of two), and the column drawn at the right edge.
  GLuint ringTexture = 0;
  int32_t ringTextureWidth = 0;
  int32_t newestColumn = 0;
  // The framebuffer's last image of the ring, when it still holds it: the newest column it shows
  // (-1: it holds something else). A copy of that image, shifted by a column, and the new column
  // drawn at the edge give the next image (see scrollShownColumns).
  int32_t shownColumn = -1;
  GLuint scrollTexture = 0, scrollFramebuffer = 0;
  std::vector<uint32_t> texBitBuffer;
  int32_t texBitBufferSize = 0;
  // The ring's texels as the texture holds them, column after column (texBitBufferSize each): what
  // a layout stretches into the ring made at the new size.
  std::vector<uint32_t> ringTexels;
  int32_t currentTexCount = 0;
  std::optional<std::vector<float>> sonogramData;
  std::optional<double> sonogramLastUpdateTime;  // monotonic clock, seconds
  WeightedTotals lastTotals;
  WeightingTable weighting_;
  CalibrationTable corrections_;
  std::vector<float> frameSpectrum_;                 // the frame's averaged spectrum, reused
  std::vector<float> fullOctaveLevels_;              // the list setFullOctaveOutput receives

  // The layer the renderbuffer storage comes from.
  std::shared_ptr<CAEAGLLayer> eaglLayer() const;

 protected:
  std::shared_ptr<CALayer> makeLayer() const override;

 private:
  struct Peak {
    float volume;
    float frequency;
  };
  // The peak search of getLocalMaximumOf, without the record.
  Peak localMaximumOf(std::span<const float> values);
  // The same once the search found `index` (BandMapping::indexOfHighest's, from -10,000 dB).
  Peak peakAt(std::span<const float> values, int64_t index);
  bool makeCurrent();
  // The display points of the current series and of the held ones (while their hold is on), made
  // from the series for the size the band mapping has.
  void makeDisplayPoints();
  // When the band mapping's size is not the framebuffer's (a layout made the framebuffer anew),
  // makes the display points again at the framebuffer's size, and moves a marker to the same
  // place on the new horizontal axis. Nothing when the sizes agree.
  void fitDisplayPointsToBacking();
  // The sonogram's columns as the ring held them before a layout (taken from it, which leaves it
  // empty; none when it has no ring), with the ring's size and its newest column.
  struct KeptColumns {
    std::vector<uint32_t> texels;  // as ringTexels
    int32_t count = 0, newest = 0, rows = 0, pitch = 0;
  };
  std::optional<KeptColumns> keepColumns();
  // The ring for the framebuffer's size (see setupViewForSpectrum), holding the kept columns, the
  // newest at the right edge and each older one left of it, their rows stretched to the new height.
  void buildRing(const KeptColumns* kept);
  // (Re)starts the frame timer at animationInterval_, leaving the engine as it is.
  void scheduleFrameTimer();
  // When the frames come from another input than the levels shown, those levels go
  // (forgetCurrentLevels) and the delegate is told (measurementRestarted).
  void noteMeasurement(uint64_t measurement);
  uint64_t shownMeasurement_ = 0;
  BandMapping bands_;
  MathParams mathParams_{0, 512};
  int32_t scaleType_ = 0;
  int32_t graphType_ = 0;
  bool holdMaximum_ = false;
  bool holdMinimum_ = false;
  std::shared_ptr<NSTimer> animationTimer;
  double animationInterval_ = 1.0 / 24.0;
  BufferManager* bufferManager_ = nullptr;
  std::shared_ptr<SAudioController> audioController_;
  size_t lastHighlightedBar_ = 0;
  // The vertices a frame's fills and bars are built in, kept so that a frame allocates none.
  std::vector<float> fillVertices_, fillRectVertices_, highlightVertices_, plateVertices_;
};
