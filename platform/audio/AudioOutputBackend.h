#pragma once
// Where a remote I/O unit's output goes. A started unit with output enabled opens one stream on
// the session's output backend; the stream asks the unit for interleaved frames whenever it needs
// more. A unit that also captures renders on its input's deliveries and the stream only drains
// what those rendered; a unit without input is driven by the stream's demand alone.
//
// Streams pull on their own thread. Destroying a stream returns only when no pull of it runs any
// more and none will start.
#include <cstdint>
#include <memory>

#include "platform/audio/AudioTypes.h"

class AudioOutputSource {
 public:
  virtual ~AudioOutputSource() = default;
  // Output thread: fills `frames` interleaved frames of `channels` samples into `interleaved`,
  // silence where nothing was rendered. Must not lock or allocate.
  virtual void renderOutput(float* interleaved, uint32_t frames) = 0;
};

class AudioOutputStream {
 public:
  virtual ~AudioOutputStream() = default;
};

class AudioOutputBackend {
 public:
  virtual ~AudioOutputBackend() = default;
  // Opens a stream of `channels` interleaved float channels at 44,100 Hz that pulls from
  // `source` in pieces of at most `framesPerPull` frames. Null with *status when it cannot open.
  virtual std::unique_ptr<AudioOutputStream> openStream(AudioOutputSource* source, uint32_t channels,
                                                        uint32_t framesPerPull, OSStatus* status) = 0;
};
