#include "platform/audio/AudioInputBackend.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/audio/AudioCallbackGuard.h"

namespace {
// The backend whose delivery is running on this thread, so that removeSink from inside a
// delivery does not wait for itself.
thread_local const AudioInputBackend* tlsDelivering = nullptr;
constexpr float kSilence[256] = {};
}  // namespace

OSStatus AudioInputBackend::addSink(AudioInputSink* sink) {
  if (!sink) return kAudio_ParamError;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& slot : sinks_)
    if (slot.load() == sink) return noErr;
  auto free = std::find_if(sinks_.begin(), sinks_.end(), [](auto& s) { return s.load() == nullptr; });
  if (free == sinks_.end()) return kAudio_MemFullError;
  if (!started_) {
    OSStatus status = startCapture();
    if (status != noErr) return status;
    started_ = true;
  }
  free->store(sink);
  return noErr;
}

void AudioInputBackend::removeSink(AudioInputSink* sink) {
  if (!sink) return;
  std::lock_guard<std::mutex> lock(mutex_);
  bool found = false;
  for (auto& slot : sinks_) {
    if (slot.load() == sink) {
      slot.store(nullptr);
      found = true;
    }
  }
  if (!found || tlsDelivering == this) return;
  // A delivery that started before the slot was cleared may still hold the sink: wait it out.
  uint32_t seq = deliverySeq_.load();
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
  const AudioInputBackend* outer = tlsDelivering;
  tlsDelivering = this;
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
  tlsDelivering = outer;
}

void AudioInputBackend::deliverSilence(uint32_t frames) {
  constexpr uint32_t chunk = sizeof(kSilence) / sizeof(kSilence[0]);
  while (frames > 0) {
    uint32_t n = std::min(frames, chunk);
    deliver(kSilence, n);
    frames -= n;
  }
}
