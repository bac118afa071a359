#pragma once
// Carries captured samples from the audio render thread to the main thread without a lock.
//
// The render thread appends every delivery to a single-producer ring (CopyAudioToFFTInput) and
// raises the ready counter once a full frame of N samples has arrived; it takes no lock, allocates
// nothing and never touches the reader's memory.
//
// A frame is ready only when it was measured: its N samples all came in since the current input
// began (the capture started, or what it delivers stopped continuing what it delivered before),
// and at least one of them is newer than the frames already taken. The counter is reset with the
// window, and it counts at most kMaxFramesReady windows ahead, so a reader never takes a window
// refilled from zeros after a restart, nor, when deliveries stop, the last window again and again
// as if it were still current. The spectrum average starts afresh with the first frame of each
// input, so no frame carries sound from before it. The main thread (ComputeFFTOutput) takes a private
// snapshot of the latest N samples, checks that the render thread did not overwrite them while it
// copied (retrying if it did), and windows and transforms only that copy: samples still in the
// sliding window never carry a previous frame's window weighting.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "analysis/FFTHelper.h"
#include "analysis/MathParams.h"
#include "platform/audio/AudioTypes.h"

class BufferManager {
 public:
  // The buffer manager for a frame length, or null (with a log line) when the length is not a power
  // of two from 256 to 16,384.
  static std::unique_ptr<BufferManager> create(uint32_t frameLength);

  // Throws std::invalid_argument for a refused frame length; prefer create().
  explicit BufferManager(uint32_t frameLength);
  ~BufferManager();

  BufferManager(const BufferManager&) = delete;
  BufferManager& operator=(const BufferManager&) = delete;

  // Render thread only. Appends `frameCount` samples to the sliding window of the latest N samples;
  // a delivery longer than N keeps its last N samples. Once the window is full every delivery raises
  // mFFTFramesReady by one, up to kMaxFramesReady. A null pointer or zero count, and any delivery
  // after FreezeFFTInput, changes nothing.
  void CopyAudioToFFTInput(const float* samples, uint32_t frameCount);

  // Render thread, before a delivery's samples are filtered and handed to CopyAudioToFFTInput:
  // whether they begin a new input rather than continue what came before. They do when they are
  // the first after ResetFFTInput or RequestNewInput, or when their time stamp does not follow on
  // from the delivery before (the capture moved to another source, or samples were lost). The
  // window then starts again with them, and the spectrum average with its next frame. A null time
  // stamp, or one without a valid sample time, continues.
  bool BeginDelivery(const AudioTimeStamp* timeStamp, uint32_t frameCount);
  // Any thread: the input ends here (the capture delivered nothing for so long that what it
  // delivers next does not continue it, or the capture reads another source now). Its window is no
  // measurement from now on: the input's number changes at once, so that a reader stops showing
  // its levels before anything more is delivered, no frame is made of it, and the next delivery
  // begins a new input. A frozen window only learns that its input was ending (continuation()).
  void RequestNewInput();

  // Main thread. Writes the averaged dB spectrum of the latest window to `output` (N/2 floats) with
  // the window of `params`, then lowers mFFTFramesReady by one (not below zero). Returns false, with
  // `output` untouched, when there is no whole window of the current input to take: the window is
  // still filling, a new input was asked for and has not begun, or one began while the window was
  // being taken. A null output does nothing.
  bool ComputeFFTOutput(float* output, MathParams params);

  // Main thread, while the render thread is stopped: the window becomes all zeros, filling starts
  // again at position 0 and no frame is ready until N new samples have come; they begin a new
  // input, as BeginDelivery describes.
  void ResetFFTInput();

  // The input the window is filled from: a number that no other input of any buffer manager of the
  // process had, given at construction and whenever a new input begins. A reader that showed
  // frames of another knows that they are not of the input captured now.
  uint64_t measurement() const { return measurement_.load(std::memory_order_acquire); }
  // The input of the last frame ComputeFFTOutput produced (0 before the first).
  uint64_t frameMeasurement() const { return averagedMeasurement_; }
  // How a buffer manager whose chain replaces this one's for a new setting (the microphone and the
  // sound are the same) goes on with the same input: its number, and the sample time at which a
  // delivery continues the last one this window had (NaN when there was none and none was
  // expected).
  struct Continuation {
    uint64_t measurement = 0;
    double nextSampleTime = 0;
  };
  // Main thread, once no delivery reaches this buffer manager any more (its unit is stopped): its
  // continuation, or none when its input was about to end: a new input was asked for
  // (RequestNewInput, ResetFFTInput) and had not begun, or a delivery after FreezeFFTInput did not
  // follow on from the one before.
  std::optional<Continuation> continuation() const;
  // Main thread: this window is filled from the input `previous` describes, its chain having
  // taken the other's place on the input from one delivery to the next. It takes that number, so
  // that a reader sees the same input go on, unless its own first delivery (whether it came before
  // this call or comes after it) does not follow on exactly from the other's last: then, and when
  // a new input began here meanwhile, it keeps a number of its own. Its frames are made only of
  // the samples delivered to it either way.
  void ContinueMeasurement(const Continuation& previous);

  // After this, deliveries no longer change the window nor make a frame ready; their time stamps
  // are still followed, so that continuation() knows whether they went on from the last one.
  // Called before the capture chain is stopped and rebuilt.
  void FreezeFFTInput();

  // The latest window as the reader sees it (N floats): while the window is still filling, the
  // samples since the last reset followed by zeros; afterwards the latest N samples, oldest first.
  void CopyLatestFrame(float* destination) const;

  // Fill position: samples received since construction or the last reset, at most N.
  uint32_t mFFTInputBufferFrameIndex() const;
  // Samples taken into the window since construction (not moved back by a reset): a reader that
  // sees it unchanged knows that nothing was delivered meanwhile.
  uint64_t samplesReceived() const { return writePos_.load(std::memory_order_acquire); }
  // Frames whose delivery began here (BeginDelivery) since construction, not frozen, whether or
  // not they reached the window (the first ones of an input may not): a reader that sees it
  // unchanged knows that nothing was delivered meanwhile.
  uint64_t framesDelivered() const { return framesDelivered_.load(std::memory_order_acquire); }
  bool isFrozen() const { return mFFTInputFrozen.load(std::memory_order_acquire); }
  FFTHelper& fftHelper() { return *mFFTHelper; }

  // N, the frame length; readers size their output as N/2 floats.
  const uint32_t mFFTInputBufferLen;
  // Complete windows delivered minus frames taken, at most kMaxFramesReady. Raised by the render
  // thread, lowered by ComputeFFTOutput, cleared whenever a new input begins; readers check it for non-zero
  // before they take a frame.
  std::atomic<int32_t> mFFTFramesReady{0};
  // One frame for each of the two readers that may take one in the same moment (a chart's frame
  // timer and its container's data timer): more would be old windows taken again.
  static constexpr int32_t kMaxFramesReady = 2;
  // Set to 1 at construction and never changed; the render callbacks copy only while non-zero.
  std::atomic<int32_t> mFFTDataWanted{0};

 private:
  // Ring of kRingFrames × N samples; positions are counted in samples since construction.
  static constexpr uint32_t kRingFrames = 4;
  const uint64_t ringMask_;
  std::unique_ptr<std::atomic<float>[]> mFFTInputBuffer;  // the ring, written only by the render thread
  // The render thread announces the end of a write here before it overwrites ring samples, and
  // publishes it in writePos_ after; the reader compares both around its copy.
  std::atomic<uint64_t> claimPos_{0};
  std::atomic<uint64_t> writePos_{0};
  std::atomic<uint64_t> fillStart_{0};  // ring position where the current input began
  std::atomic<uint64_t> framesDelivered_{0};
  std::atomic<bool> mFFTInputFrozen{false};
  std::atomic<uint64_t> measurement_{0};
  std::atomic<bool> newInputRequested_{true};
  // A new input was asked for or seen while frozen and has not begun: the number is about to change.
  std::atomic<bool> newInputPending_{false};
  // The sample time at which the next delivery continues the last one. Written by the render
  // thread; read by the main thread only once deliveries have stopped (continuation()).
  std::atomic<double> nextSampleTime_{0};
  std::atomic<bool> haveNextSampleTime_{false};
  // The number given at construction: the one a continuation replaces.
  uint64_t ownMeasurement_ = 0;
  // The first delivery's sample time (NaN: none valid), and whether it came; the continuation
  // offered by the main thread, and whether it was. Each side writes its own and then reads the
  // other's, both sequentially consistent, so at least one of them sees both and checks the first
  // delivery against the continuation.
  bool firstDeliveryDone_ = false;  // render thread
  std::atomic<double> firstSampleTime_{0};
  std::atomic<bool> firstDeliverySeen_{false};
  std::atomic<double> offeredSampleTime_{0};
  std::atomic<bool> continuationOffered_{false};
  // Render thread, at the first delivery: a continuation offered that it does not follow on from
  // gives this input a number of its own.
  void checkFirstDelivery(double sampleTime);
  // Main thread: the input whose frames the spectrum average holds.
  uint64_t averagedMeasurement_ = 0;
  // The window starts again at the current write position, as a new input's.
  void beginNewInput();
  // Copies the latest window, as CopyLatestFrame describes it, until a copy was not overwritten
  // meanwhile: copyRun(source, at, count) copies `count` ring samples from `source` to window
  // positions at, at + 1, …; zeroFrom(filled) clears the positions from `filled` on.
  // Returns how many of the window's N positions hold samples of the input (the rest are zeros).
  template <typename CopyRun, typename ZeroFrom>
  uint64_t takeSnapshot(CopyRun copyRun, ZeroFrom zeroFrom) const;
  std::unique_ptr<FFTHelper> mFFTHelper;
};
