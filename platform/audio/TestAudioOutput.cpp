#include "platform/audio/TestAudioOutput.h"

#include <algorithm>

struct TestAudioOutput::Stream : AudioOutputStream {
  std::shared_ptr<TestAudioOutput> owner;
  AudioOutputSource* source = nullptr;
  uint32_t channels = 0;
  uint32_t framesPerPull = 0;
  ~Stream() override { owner->remove(this); }
};

std::shared_ptr<TestAudioOutput> TestAudioOutput::create() {
  return std::shared_ptr<TestAudioOutput>(new TestAudioOutput());
}

std::unique_ptr<AudioOutputStream> TestAudioOutput::openStream(AudioOutputSource* source, uint32_t channels,
                                                               uint32_t framesPerPull, OSStatus* status) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failNextOpen_ != noErr) {
    if (status) *status = failNextOpen_;
    failNextOpen_ = noErr;
    return nullptr;
  }
  if (!source || channels == 0 || framesPerPull == 0) {
    if (status) *status = kAudio_ParamError;
    return nullptr;
  }
  auto stream = std::make_unique<Stream>();
  stream->owner = shared_from_this();
  stream->source = source;
  stream->channels = channels;
  stream->framesPerPull = framesPerPull;
  streams_.push_back(stream.get());
  if (status) *status = noErr;
  return stream;
}

void TestAudioOutput::remove(Stream* stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

int TestAudioOutput::streamCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(streams_.size());
}

std::vector<float> TestAudioOutput::pull(uint32_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<float> mix(frames, 0.0f);
  for (Stream* stream : streams_) {
    std::vector<float> piece(size_t(stream->channels) * stream->framesPerPull);
    for (uint32_t done = 0; done < frames;) {
      const uint32_t n = std::min(frames - done, stream->framesPerPull);
      stream->source->renderOutput(piece.data(), n);
      for (uint32_t i = 0; i < n; ++i) mix[done + i] += piece[size_t(i) * stream->channels];
      done += n;
    }
  }
  return mix;
}
