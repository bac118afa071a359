#include "analysis/BufferManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

#include "platform/foundation/NSLog.h"

namespace {

// Relaxed loads of n ring samples into `destination`, four loads before their four stores (a
// store right after each load keeps the next load waiting; this runs two to three times faster).
void copyRelaxed(const std::atomic<float>* source, float* destination, uint64_t n) {
  const uint64_t blocks = n / 4;
  for (uint64_t b = 0; b < blocks; ++b) {
    const std::atomic<float>* s = source + 4 * b;
    const float a0 = s[0].load(std::memory_order_relaxed);
    const float a1 = s[1].load(std::memory_order_relaxed);
    const float a2 = s[2].load(std::memory_order_relaxed);
    const float a3 = s[3].load(std::memory_order_relaxed);
    float* d = destination + 4 * b;
    d[0] = a0;
    d[1] = a1;
    d[2] = a2;
    d[3] = a3;
  }
  for (uint64_t i = 4 * blocks; i < n; ++i) destination[i] = source[i].load(std::memory_order_relaxed);
}

template <bool Weighted>
inline float weighed(float x, const float* weights, uint64_t position) {
  return Weighted ? x * weights[position] : x;
}

// Window position p of a frame kept as its even and odd samples.
inline void putSplit(float* even, float* odd, uint64_t p, float x) {
  if (p % 2 == 0) {
    even[p / 2] = x;
  } else {
    odd[p / 2] = x;
  }
}

typedef float Four __attribute__((vector_size(4 * sizeof(float))));

// The same loads into window positions at, at + 1, … of a frame kept as its even samples (`even`,
// sample 2j at j) and odd samples (`odd`), each times its weight when there are weights: the FFT's
// split input, without a copy of the frame in between. Eight loads before their stores.
template <bool Weighted>
void copyRelaxedSplit(const std::atomic<float>* source, uint64_t at, uint64_t n, float* even, float* odd,
                      const float* weights) {
  uint64_t i = 0;
  if (n > 0 && at % 2 != 0) {
    odd[at / 2] = weighed<Weighted>(source[0].load(std::memory_order_relaxed), weights, at);
    i = 1;
  }
  for (; i + 8 <= n; i += 8) {
    const std::atomic<float>* s = source + i;
    const float a0 = s[0].load(std::memory_order_relaxed);
    const float a1 = s[1].load(std::memory_order_relaxed);
    const float a2 = s[2].load(std::memory_order_relaxed);
    const float a3 = s[3].load(std::memory_order_relaxed);
    const float a4 = s[4].load(std::memory_order_relaxed);
    const float a5 = s[5].load(std::memory_order_relaxed);
    const float a6 = s[6].load(std::memory_order_relaxed);
    const float a7 = s[7].load(std::memory_order_relaxed);
    const uint64_t p = at + i;  // even
    // Each half put together in a register and stored at once: two stores instead of eight (the
    // stores, one a cycle, were what the copy waited for).
    const Four e = {weighed<Weighted>(a0, weights, p), weighed<Weighted>(a2, weights, p + 2),
                    weighed<Weighted>(a4, weights, p + 4), weighed<Weighted>(a6, weights, p + 6)};
    const Four o = {weighed<Weighted>(a1, weights, p + 1), weighed<Weighted>(a3, weights, p + 3),
                    weighed<Weighted>(a5, weights, p + 5), weighed<Weighted>(a7, weights, p + 7)};
    std::memcpy(even + p / 2, &e, sizeof e);
    std::memcpy(odd + p / 2, &o, sizeof o);
  }
  for (; i < n; ++i) {
    const uint64_t p = at + i;
    putSplit(even, odd, p, weighed<Weighted>(source[i].load(std::memory_order_relaxed), weights, p));
  }
}

// A snapshot whose samples the render thread overwrote while they were copied is taken again;
// with a ring four frames deep that needs more than three frames delivered during one copy.
// After this many tries in a row the reader gives up its time slice before each further try:
// a copy is lapped only when the reader was descheduled in the middle of it.
constexpr int kSnapshotAttemptsBeforeYielding = 8;

// Inputs are numbered across every buffer manager of the process, so that a reader that changes
// buffer manager also sees another input.
uint64_t nextMeasurement() {
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}
}  // namespace

std::unique_ptr<BufferManager> BufferManager::create(uint32_t frameLength) {
  if (!FFTHelper::isValidFrameLength(frameLength)) {
    NSLog("BufferManager: frame length %u refused; it must be a power of two from %u to %u",
          frameLength, FFTHelper::kMinFrameLength, FFTHelper::kMaxFrameLength);
    return nullptr;
  }
  return std::make_unique<BufferManager>(frameLength);
}

BufferManager::BufferManager(uint32_t frameLength)
    : mFFTInputBufferLen(frameLength),
      ringMask_(static_cast<uint64_t>(frameLength) * kRingFrames - 1) {
  if (!FFTHelper::isValidFrameLength(frameLength)) {
    throw std::invalid_argument("BufferManager frame length " + std::to_string(frameLength) +
                                " is not a power of two from 256 to 16384");
  }
  const size_t ringSize = static_cast<size_t>(frameLength) * kRingFrames;
  mFFTInputBuffer = std::make_unique<std::atomic<float>[]>(ringSize);
  for (size_t i = 0; i < ringSize; ++i) mFFTInputBuffer[i].store(0.0f, std::memory_order_relaxed);
  mFFTHelper = std::make_unique<FFTHelper>(frameLength);
  ownMeasurement_ = nextMeasurement();
  measurement_.store(ownMeasurement_, std::memory_order_release);
  mFFTDataWanted.fetch_add(1, std::memory_order_seq_cst);
}

BufferManager::~BufferManager() = default;

void BufferManager::CopyAudioToFFTInput(const float* samples, uint32_t frameCount) {
  if (!samples || frameCount == 0) return;
  // A frozen window is about to go with its chain: nothing it holds is new.
  if (mFFTInputFrozen.load(std::memory_order_acquire)) return;
  const uint64_t n = mFFTInputBufferLen;
  const uint64_t start = writePos_.load(std::memory_order_relaxed);  // only this thread writes it
  // Only the last N samples of a long delivery can be part of any window.
  const uint64_t count = std::min<uint64_t>(frameCount, n);
  const float* source = samples + (frameCount - count);
  const uint64_t end = start + count;
  claimPos_.store(end, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (uint64_t i = 0; i < count; ++i) {
    mFFTInputBuffer[(start + i) & ringMask_].store(source[i], std::memory_order_relaxed);
  }
  writePos_.store(end, std::memory_order_release);
  // A reader lowering the counter at the same moment can only leave it lower than the bound.
  if (mFFTInputBufferFrameIndex() >= n && mFFTFramesReady.load(std::memory_order_relaxed) < kMaxFramesReady)
    mFFTFramesReady.fetch_add(1, std::memory_order_seq_cst);
}

uint32_t BufferManager::mFFTInputBufferFrameIndex() const {
  const uint64_t written = writePos_.load(std::memory_order_acquire) - fillStart_.load(std::memory_order_acquire);
  return static_cast<uint32_t>(std::min<uint64_t>(written, mFFTInputBufferLen));
}

bool BufferManager::BeginDelivery(const AudioTimeStamp* timeStamp, uint32_t frameCount) {
  const bool timed = timeStamp && (timeStamp->mFlags & kAudioTimeStampSampleTimeValid);
  // Only this thread writes the sample times: relaxed loads read its own last stores.
  const bool followsOn = !timed || !haveNextSampleTime_.load(std::memory_order_relaxed) ||
                         timeStamp->mSampleTime == nextSampleTime_.load(std::memory_order_relaxed);
  if (timed) {
    nextSampleTime_.store(timeStamp->mSampleTime + frameCount, std::memory_order_relaxed);
    haveNextSampleTime_.store(true, std::memory_order_relaxed);
  }
  if (mFFTInputFrozen.load(std::memory_order_acquire)) {
    // The window no longer changes, but a chain that takes its place must not carry on an input
    // that ended here.
    if (!followsOn) newInputPending_.store(true, std::memory_order_release);
    return false;
  }
  framesDelivered_.fetch_add(frameCount, std::memory_order_release);
  if (!firstDeliveryDone_) {
    firstDeliveryDone_ = true;
    checkFirstDelivery(timed ? timeStamp->mSampleTime : std::numeric_limits<double>::quiet_NaN());
  }
  const bool fresh = newInputRequested_.exchange(false, std::memory_order_acq_rel) || !followsOn;
  // A window that holds nothing yet is the new input's already: its number stays. The window
  // starts again before the request is marked done, so a reader that sees it done takes nothing
  // from before.
  if (fresh && writePos_.load(std::memory_order_relaxed) != fillStart_.load(std::memory_order_relaxed))
    beginNewInput();
  if (fresh) newInputPending_.store(false, std::memory_order_release);
  return fresh;
}

namespace {
// Whether a chain's first delivery at `first` continues an input whose next delivery was due at
// `expected`. Unknown times say nothing against it.
bool continuesAt(double first, double expected) {
  return std::isnan(first) || std::isnan(expected) || first == expected;
}
}  // namespace

void BufferManager::checkFirstDelivery(double sampleTime) {
  firstSampleTime_.store(sampleTime, std::memory_order_relaxed);
  firstDeliverySeen_.store(true, std::memory_order_seq_cst);
  if (!continuationOffered_.load(std::memory_order_seq_cst)) return;
  // Its window is empty: the input only needs a number of its own.
  if (!continuesAt(sampleTime, offeredSampleTime_.load(std::memory_order_relaxed)))
    measurement_.store(nextMeasurement(), std::memory_order_release);
}

std::optional<BufferManager::Continuation> BufferManager::continuation() const {
  if (newInputPending_.load(std::memory_order_acquire)) return std::nullopt;
  double next = std::numeric_limits<double>::quiet_NaN();
  if (haveNextSampleTime_.load(std::memory_order_acquire)) {
    next = nextSampleTime_.load(std::memory_order_relaxed);
  } else if (continuationOffered_.load(std::memory_order_acquire)) {
    next = offeredSampleTime_.load(std::memory_order_relaxed);  // none came: still the one expected
  }
  return Continuation{measurement(), next};
}

void BufferManager::ContinueMeasurement(const Continuation& previous) {
  offeredSampleTime_.store(previous.nextSampleTime, std::memory_order_relaxed);
  continuationOffered_.store(true, std::memory_order_seq_cst);
  if (firstDeliverySeen_.load(std::memory_order_seq_cst) &&
      !continuesAt(firstSampleTime_.load(std::memory_order_relaxed), previous.nextSampleTime))
    return;
  // Only the number it was made with is replaced: one that a new input gave it meanwhile stays.
  uint64_t own = ownMeasurement_;
  measurement_.compare_exchange_strong(own, previous.measurement, std::memory_order_acq_rel);
}

void BufferManager::RequestNewInput() {
  // In this order: a reader that sees the new number sees the request too, and takes no frame of
  // the window that ended.
  newInputPending_.store(true, std::memory_order_release);
  newInputRequested_.store(true, std::memory_order_release);
  if (!mFFTInputFrozen.load(std::memory_order_acquire))
    measurement_.store(nextMeasurement(), std::memory_order_release);
}

void BufferManager::beginNewInput() {
  // In this order: a reader that sees the new number sees the window's new start too.
  fillStart_.store(writePos_.load(std::memory_order_acquire), std::memory_order_release);
  mFFTFramesReady.store(0, std::memory_order_seq_cst);
  measurement_.store(nextMeasurement(), std::memory_order_release);
}

template <typename CopyRun, typename ZeroFrom>
uint64_t BufferManager::takeSnapshot(CopyRun copyRun, ZeroFrom zeroFrom) const {
  const uint64_t n = mFFTInputBufferLen;
  const uint64_t ringSize = ringMask_ + 1;
  // The reader never hands over a window mixed from two slides: it tries until a copy was not
  // overwritten meanwhile. That ends, since the render thread is paced by the audio clock and a
  // copy of one frame takes far less time than the three frames it would take to lap it.
  for (int attempt = 0;; ++attempt) {
    if (attempt >= kSnapshotAttemptsBeforeYielding) std::this_thread::yield();
    const uint64_t end = writePos_.load(std::memory_order_acquire);
    const uint64_t fillStart = std::min(fillStart_.load(std::memory_order_acquire), end);
    const uint64_t filled = std::min<uint64_t>(end - fillStart, n);
    // While the window fills, it holds the samples since the reset followed by zeros.
    const uint64_t first = filled < n ? fillStart : end - n;
    // The window is one run of the ring, or two where it wraps round.
    const uint64_t offset = first & ringMask_;
    const uint64_t run = std::min(filled, ringSize - offset);
    const std::atomic<float>* ring = mFFTInputBuffer.get();
    copyRun(ring + offset, 0, run);
    copyRun(ring, run, filled - run);
    zeroFrom(filled);
    std::atomic_thread_fence(std::memory_order_acquire);
    // A sample at position p is overwritten once the writer claims past p + ringSize.
    if (claimPos_.load(std::memory_order_relaxed) <= first + ringSize) return filled;
  }
}

void BufferManager::CopyLatestFrame(float* destination) const {
  if (!destination) return;
  takeSnapshot([destination](const std::atomic<float>* source, uint64_t at,
                             uint64_t count) { copyRelaxed(source, destination + at, count); },
               [this, destination](uint64_t filled) { std::fill(destination + filled, destination + mFFTInputBufferLen, 0.0f); });
}

bool BufferManager::ComputeFFTOutput(float* output, MathParams params) {
  if (!output) return false;
  const uint64_t measurement = measurement_.load(std::memory_order_acquire);
  // The snapshot goes straight into the FFT's split input, windowed on the way: the same products
  // as windowing a copy of the frame in place and splitting it, without that copy.
  FFTHelper& fft = *mFFTHelper;
  float* const even = fft.splitReal();
  float* const odd = fft.splitImag();
  const float* const weights = fft.windowWeights(params);
  const uint64_t n = mFFTInputBufferLen;
  const uint64_t filled = takeSnapshot(
      [=](const std::atomic<float>* source, uint64_t at, uint64_t count) {
        if (weights) {
          copyRelaxedSplit<true>(source, at, count, even, odd, weights);
        } else {
          copyRelaxedSplit<false>(source, at, count, even, odd, nullptr);
        }
      },
      [=](uint64_t filled) {
        for (uint64_t p = filled; p < n; ++p) putSplit(even, odd, p, weights ? 0.0f * weights[p] : 0.0f);
      });
  // The frame is taken, whatever it turns out to be; a new input that cleared the count meanwhile
  // is not taken from.
  for (int32_t ready = mFFTFramesReady.load(std::memory_order_seq_cst);
       ready > 0 && !mFFTFramesReady.compare_exchange_weak(ready, ready - 1, std::memory_order_seq_cst);) {
  }
  // A window still filling is part zeros, one whose input ended holds what came before the end,
  // and one taken while a new input began may be part of either: none is a measurement of the
  // input captured now.
  if (filled < n || newInputPending_.load(std::memory_order_acquire) ||
      measurement_.load(std::memory_order_acquire) != measurement)
    return false;
  // The first frame of an input is averaged with none from before it.
  if (measurement != averagedMeasurement_) {
    fft.ResetAverage();
    averagedMeasurement_ = measurement;
  }
  fft.ComputeFFTOfSplit(output);
  return true;
}

void BufferManager::ResetFFTInput() {
  // The windows counted before are gone: what the reader would take now is zeros, not a level. The
  // first delivery from here on is a new input's, also to the filter before this window.
  beginNewInput();
  newInputPending_.store(true, std::memory_order_release);
  newInputRequested_.store(true, std::memory_order_release);
}

void BufferManager::FreezeFFTInput() { mFFTInputFrozen.store(true, std::memory_order_release); }
