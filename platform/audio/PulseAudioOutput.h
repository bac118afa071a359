#pragma once
// Playback through the PulseAudio server (the connection the capture uses). Every stream is a
// playback stream to the server's default sink whose write requests pull the unit's rendered
// frames on the connection's thread.
//
// Opening a stream asks the server for it (once the connection is ready, when it is still being
// made) and returns: it plays once the server has made it ready. A stream the server refuses, does
// not make ready in time, or loses (the server went away), and one whose connection could not be
// made, goes on pulling its source on a real-time clock instead, as a machine without a server
// does, so that whatever runs on the stream's demand keeps the speed it would be heard at.
#include <memory>
#include <string>

#include "platform/audio/AudioOutputBackend.h"

class PulseAudioOutput : public AudioOutputBackend {
 public:
  // The process-wide playback backend; null when no server is there (the connection was refused;
  // another is begun then).
  static std::shared_ptr<PulseAudioOutput> sharedIfReachable();
  // Never waits for the server.
  std::unique_ptr<AudioOutputStream> openStream(AudioOutputSource* source, uint32_t channels,
                                                uint32_t framesPerPull, OSStatus* status) override;

 private:
  PulseAudioOutput() = default;
  struct Stream;
};
