#pragma once
// A sine played into an audio server's sink, for tests that capture what the sink's monitor hears,
// and the loudest frequency of what they captured.
// Header only: the tests that include it link libpulse-simple themselves, so the rest of the
// test support needs no audio client library.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Plays a sine (44.1 kHz, mono, float) into a sink of the server in PULSE_SERVER, on its own thread,
// until destroyed.
class TonePlayer {
 public:
  TonePlayer(const std::string& sink, double frequency, double amplitude) {
    pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 44100, 1};
    int error = 0;
    stream_ = pa_simple_new(nullptr, "sa-test-tone", PA_STREAM_PLAYBACK, sink.c_str(), "tone", &format, nullptr,
                            nullptr, &error);
    if (!stream_) {
      error_ = pa_strerror(error);
      return;
    }
    thread_ = std::thread([this, frequency, amplitude] {
      std::vector<float> block(1024);
      uint64_t n = 0;
      while (!stop_.load()) {
        for (auto& s : block) s = static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * double(n++) / 44100));
        int error = 0;
        if (pa_simple_write(stream_, block.data(), block.size() * sizeof(float), &error) < 0) break;
      }
    });
  }
  ~TonePlayer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
  }
  TonePlayer(const TonePlayer&) = delete;
  TonePlayer& operator=(const TonePlayer&) = delete;

  bool ok() const { return stream_ != nullptr; }
  // Why the stream could not be opened, when it could not.
  const std::string& error() const { return error_; }

 private:
  pa_simple* stream_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::string error_;
};

// The loudest frequency of `samples` at 44.1 kHz (a plain DFT scan in 10 Hz steps over 100..5000 Hz).
inline double dominantFrequency(const std::vector<float>& samples) {
  double bestHz = 0, bestPower = -1;
  for (double hz = 100; hz <= 5000; hz += 10) {
    double re = 0, im = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
      const double phase = 2 * M_PI * hz * double(i) / 44100.0;
      re += samples[i] * std::cos(phase);
      im += samples[i] * std::sin(phase);
    }
    if (re * re + im * im > bestPower) {
      bestPower = re * re + im * im;
      bestHz = hz;
    }
  }
  return bestHz;
}

}  // namespace testsupport
