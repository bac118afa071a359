#include "platform/audio/ClockAudioOutput.h"

#include <algorithm>
#include <chrono>

std::unique_ptr<ClockAudioOutput> ClockAudioOutput::open(AudioOutputSource* source, uint32_t channels,
                                                         uint32_t framesPerPull) {
  if (!source || channels == 0 || framesPerPull == 0) return nullptr;
  auto output = std::unique_ptr<ClockAudioOutput>(new ClockAudioOutput(source, channels, framesPerPull));
  output->thread_ = std::thread([raw = output.get()] { raw->run(); });
  return output;
}

ClockAudioOutput::ClockAudioOutput(AudioOutputSource* source, uint32_t channels, uint32_t framesPerPull)
    : source_(source), channels_(channels), framesPerPull_(framesPerPull),
      scratch_(size_t(channels) * framesPerPull, 0.0f) {}

ClockAudioOutput::~ClockAudioOutput() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void ClockAudioOutput::run() {
  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<clock::duration>(
      std::chrono::duration<double>(double(framesPerPull_) / kAudioSampleRate));
  auto next = clock::now();
  while (!stop_.load()) {
    next += period;
    std::this_thread::sleep_until(next);
    if (stop_.load()) break;
    source_->renderOutput(scratch_.data(), framesPerPull_);
    // After a long stall (a suspended machine, a debugger) start afresh instead of catching up
    // with a burst of pulls.
    if (clock::now() - next > period * 16) next = clock::now();
  }
}
