#include "platform/audio/AudioInputBackend.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/audio/AudioCallbackGuard.h"
#include "platform/foundation/Clock.h"

namespace {
// The deliveries running on this thread, innermost first (a sink may push into another input),
// so that removeSink from inside a delivery does not wait for itself. Each lives on the stack of
// its deliver().
struct DeliveryFrame {
  const AudioInputBackend* backend;
  const DeliveryFrame* outer;
};
thread_local const DeliveryFrame* tlsDeliveries = nullptr;
constexpr float kSilence[256] = {};

bool deliveringOnThisThread(const AudioInputBackend* backend) {
  for (const DeliveryFrame* frame = tlsDeliveries; frame; frame = frame->outer)
    if (frame->backend == backend) return true;
  return false;
}
}  // namespace

OSStatus AudioInputBackend::addSink(AudioInputSink* sink) {
  if (!sink) return kAudio_ParamError;
  std::lock_guard<std::mutex> lock(mutex_);
  return addSinkLocked(sink);
}

OSStatus AudioInputBackend::replaceSink(AudioInputSink* current, AudioInputSink* replacement) {
  if (!replacement) return kAudio_ParamError;
  std::lock_guard<std::mutex> lock(mutex_);
  // One that listens already is not put in a second slot (it would get every delivery twice).
  for (auto& slot : sinks_)
    if (slot.load() == replacement) return noErr;
  if (current) {
    for (auto& slot : sinks_) {
      AudioInputSink* expected = current;
      // A delivery reads each slot once: it hands its samples to one of the two.
      if (slot.compare_exchange_strong(expected, replacement)) return noErr;
    }
  }
  return addSinkLocked(replacement);
}

OSStatus AudioInputBackend::addSinkLocked(AudioInputSink* sink) {
  for (auto& slot : sinks_)
    if (slot.load() == sink) return noErr;
  auto free = std::find_if(sinks_.begin(), sinks_.end(), [](auto& s) { return s.load() == nullptr; });
  if (free == sinks_.end()) return kAudio_MemFullError;
  if (OSStatus status = startCapturingLocked(); status != noErr) return status;
  free->store(sink);
  return noErr;
}

OSStatus AudioInputBackend::startCapturing() {
  std::lock_guard<std::mutex> lock(mutex_);
  return startCapturingLocked();
}

OSStatus AudioInputBackend::startCapturingLocked() {
  if (started_) return noErr;
  OSStatus status = startCapture();
  if (status == noErr) {
    started_ = true;
    startedAt_ = Clock::monotonic();
  }
  return status;
}

void AudioInputBackend::stopCapturingIfIdle() {
  if (deliveringOnThisThread(this)) return;  // the stream cannot end under its own delivery
  std::lock_guard<std::mutex> lock(mutex_);
  stopCapturingIfIdleLocked();
}

void AudioInputBackend::stopCapturingIfIdleLocked() {
  if (!started_ || sinkCount() > 0) return;
  stopCapture();
  started_ = false;
}

bool AudioInputBackend::isCapturing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

std::optional<double> AudioInputBackend::deliverableSince() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!started_) return std::nullopt;
  return startedAt_;
}

void AudioInputBackend::removeSink(AudioInputSink* sink) {
  if (!sink) return;
  if (deliveringOnThisThread(this)) {
    // The render thread, inside a delivery (a sink stopping itself): no lock, no wait. Only the
    // slot still holding this sink is cleared; addSink fills only empty slots, so a slot taken
    // meanwhile by another sink is left alone.
    for (auto& slot : sinks_) {
      AudioInputSink* expected = sink;
      slot.compare_exchange_strong(expected, nullptr);
    }
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& slot : sinks_) {
      if (slot.load() == sink) slot.store(nullptr);
    }
  }
  // A delivery that started before the slot was cleared may still hold the sink: wait it out.
  // Also when the slot was found empty: the sink may have left from inside that very delivery and
  // still be running. The wait holds no lock, so the delivery may remove sinks of its own meanwhile.
  waitForDeliveryInFlight();
  // Nobody listens any more (unless a sink joined meanwhile): the stream goes.
  stopCapturingIfIdle();
}

void AudioInputBackend::failCapture(OSStatus status, const std::function<bool()>& stillFailing) {
  if (deliveringOnThisThread(this)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!started_ || (stillFailing && !stillFailing())) return;
  std::array<AudioInputSink*, kMaxSinks> failed{};
  size_t count = 0;
  for (auto& slot : sinks_)
    if (AudioInputSink* sink = slot.exchange(nullptr)) failed[count++] = sink;
  // A delivery that started before the slots were cleared may still hold a sink: wait it out (a
  // delivery takes no lock) before the sinks hear that there is no more.
  waitForDeliveryInFlight();
  stopCapture();
  started_ = false;
  // Still under the lock: an owner removing its sink meanwhile waits, so every sink here lives.
  for (size_t i = 0; i < count; ++i) failed[i]->audioInputDidFail(status);
}

void AudioInputBackend::waitForDeliveryInFlight() const {
  const uint32_t seq = deliverySeq_.load();
  if (seq & 1u) {
    while (deliverySeq_.load() == seq) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

int AudioInputBackend::sinkCount() const {
  int n = 0;
  for (auto& slot : sinks_)
    if (slot.load()) ++n;
  return n;
}

void AudioInputBackend::deliver(const float* samples, uint32_t frames) {
  if (!samples) return;
  if (timelineBroken_.exchange(false, std::memory_order_acq_rel)) sampleTime_ += kTimelineBreakFrames;
  const DeliveryFrame frame{this, tlsDeliveries};
  tlsDeliveries = &frame;
  while (frames > 0) {
    uint32_t n = std::min(frames, kMaxDeliveryFrames);
    AudioTimeStamp ts;
    ts.mSampleTime = sampleTime_;
    ts.mHostTime = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    ts.mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid;
    deliverySeq_.fetch_add(1);
    for (auto& slot : sinks_) {
      // A sink that throws misses this delivery; the others still get it, and the sequence
      // number stays even between deliveries (removeSink waits on it).
      if (AudioInputSink* sink = slot.load())
        audio::runGuarded("An audio input sink", [&] { sink->audioInputDidCapture(samples, n, ts); });
    }
    deliverySeq_.fetch_add(1);
    sampleTime_ += n;
    samples += n;
    frames -= n;
  }
  tlsDeliveries = frame.outer;
}

void AudioInputBackend::deliverSilence(uint32_t frames) {
  constexpr uint32_t chunk = sizeof(kSilence) / sizeof(kSilence[0]);
  while (frames > 0) {
    uint32_t n = std::min(frames, chunk);
    deliver(kSilence, n);
    frames -= n;
  }
}
