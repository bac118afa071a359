#include "platform/audio/TestAudioInput.h"

std::shared_ptr<TestAudioInput> TestAudioInput::create(std::string identifier) {
  return std::shared_ptr<TestAudioInput>(new TestAudioInput(std::move(identifier)));
}

void TestAudioInput::pushSamples(const std::vector<float>& samples) {
  pushSamples(samples.data(), uint32_t(samples.size()));
}

void TestAudioInput::pushSamples(const float* samples, uint32_t frames) { deliver(samples, frames); }

OSStatus TestAudioInput::startCapture() {
  ++startCount_;
  return startError_.load();
}
