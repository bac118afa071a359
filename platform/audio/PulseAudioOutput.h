#pragma once
// Playback through the PulseAudio server (the connection the capture uses). Every stream is a
// playback stream to the server's default sink whose write
// requests pull the unit's rendered frames on the connection's thread.
#include <memory>
#include <string>

#include "platform/audio/AudioOutputBackend.h"

class PulseAudioOutput : public AudioOutputBackend {
 public:
  // The process-wide playback backend; null when no server answers.
  static std::shared_ptr<PulseAudioOutput> sharedIfReachable();
  std::unique_ptr<AudioOutputStream> openStream(AudioOutputSource* source, uint32_t channels,
                                                uint32_t framesPerPull, OSStatus* status) override;

 private:
  PulseAudioOutput() = default;
  struct Stream;
};
