#pragma once
// Capture from a PulseAudio server (also served by PipeWire desktops) over the process-wide
// connection (PulseAudioConnection.h): its main loop's thread is the render thread of every
// PulseAudio input.
#include <memory>
#include <string>

#include "platform/audio/AudioInputBackend.h"

class PulseAudioInput : public AudioInputBackend {
 public:
  // `sourceName` empty: the server's default source.
  static std::shared_ptr<PulseAudioInput> create(std::string sourceName);
  ~PulseAudioInput() override;
  std::string identifier() const override;

 protected:
  OSStatus startCapture() override;

 private:
  explicit PulseAudioInput(std::string sourceName);
  struct Stream;
  std::string sourceName_;
  // Frames per delivery: the session's preferred length when the capture started (written and
  // read with the connection's lock held).
  uint32_t deliveryFrames_ = 1;
  std::unique_ptr<Stream> stream_;
};
