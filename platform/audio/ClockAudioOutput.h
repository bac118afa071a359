#pragma once
// The output of a machine without an audio server: a real-time thread that pulls one piece of
// frames per period of the piece's duration and discards it, so that units driven by their output
// (a file player) run at the speed they would be heard.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/audio/AudioOutputBackend.h"

class ClockAudioOutput : public AudioOutputStream {
 public:
  static std::unique_ptr<ClockAudioOutput> open(AudioOutputSource* source, uint32_t channels, uint32_t framesPerPull);
  ~ClockAudioOutput() override;

 private:
  ClockAudioOutput(AudioOutputSource* source, uint32_t channels, uint32_t framesPerPull);
  void run();
  AudioOutputSource* source_;
  uint32_t channels_;
  uint32_t framesPerPull_;
  std::vector<float> scratch_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
