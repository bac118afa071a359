#pragma once
// An output that tests drive by hand: every pull runs on the calling thread and asks each open
// stream's unit for frames, so output-driven units render deterministically and what they would
// play can be inspected.
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/AudioOutputBackend.h"

class TestAudioOutput : public AudioOutputBackend, public std::enable_shared_from_this<TestAudioOutput> {
 public:
  static std::shared_ptr<TestAudioOutput> create();
  std::unique_ptr<AudioOutputStream> openStream(AudioOutputSource* source, uint32_t channels,
                                                uint32_t framesPerPull, OSStatus* status) override;

  // Pulls `frames` frames from every open stream, in pieces of at most their framesPerPull;
  // returns the sum of their first channels.
  std::vector<float> pull(uint32_t frames);
  int streamCount() const;
  // The next openStream fails once with the status.
  void failNextOpen(OSStatus status) { failNextOpen_ = status; }

 private:
  TestAudioOutput() = default;
  struct Stream;
  friend struct Stream;
  void remove(Stream* stream);
  mutable std::mutex mutex_;  // held by pull, so closing a stream waits for a pull in flight
  std::vector<Stream*> streams_;
  OSStatus failNextOpen_ = noErr;
};
