#pragma once
// An input that tests drive by hand: they push samples and run render cycles synchronously on
// their own thread, so render-callback behaviour can be checked without timing. It can also make
// every render of the units it feeds fail with a chosen status.
#include <atomic>
#include <memory>
#include <vector>

#include "platform/audio/AudioInputBackend.h"

class TestAudioInput : public AudioInputBackend {
 public:
  static std::shared_ptr<TestAudioInput> create(std::string identifier = "test");
  std::string identifier() const override { return identifier_; }

  // Runs one render cycle of `samples.size()` frames through every sink, on the calling thread.
  void pushSamples(const std::vector<float>& samples);
  void pushSamples(const float* samples, uint32_t frames);
  // The next push does not continue the ones before, as the first from another source.
  void startNewTimeline() { breakTimeline(); }

  // The status that AudioUnitRender of units fed by this input returns (noErr: render normally).
  void setRenderError(OSStatus status) { renderError_.store(status); }
  OSStatus renderStatus() const override { return renderError_.load(); }

  int startCount() const { return startCount_; }
  int stopCount() const { return stopCount_; }
  // While set, starting the capture fails with this status (as a capture whose server is away
  // does); noErr lets it start again.
  void setStartError(OSStatus status) { startError_.store(status); }
  // The capture that started turns out not to run after all, or ends for good, with this status
  // (as a capture does whose server does not answer in time): every sink is told and taken off.
  void endCapture(OSStatus status) { failCapture(status); }

 protected:
  OSStatus startCapture() override;
  void stopCapture() override { ++stopCount_; }

 private:
  explicit TestAudioInput(std::string identifier) : identifier_(std::move(identifier)) {}
  std::string identifier_;
  std::atomic<OSStatus> renderError_{noErr};
  int startCount_ = 0;
  int stopCount_ = 0;
  std::atomic<OSStatus> startError_{noErr};
};
