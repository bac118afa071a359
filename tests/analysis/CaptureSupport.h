#pragma once
// Audio files and spectrum readings shared by the capture tests.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/BufferManager.h"
#include "analysis/DCRejectionFilter.h"

namespace capturetest {

inline std::string tempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()) + ".wav")).string();
}

// A mono float WAV file of a sine.
inline std::string writeSine(const std::string& path, int rate, double seconds, double hz, double amplitude) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr);
  if (!f) return path;
  std::vector<float> data(size_t(seconds * rate));
  for (size_t i = 0; i < data.size(); ++i) data[i] = float(amplitude * std::sin(2 * M_PI * hz * double(i) / rate));
  sf_writef_float(f, data.data(), sf_count_t(data.size()));
  sf_close(f);
  return path;
}

// How many samples a new input needs before its first whole window of `window` samples: the
// capture leaves out those its DC filter settles on first.
inline size_t firstWindow(size_t window) { return DCRejectionFilter::kSettlingFrames + window; }

// The frequency of the loudest bin of the buffer manager's averaged spectrum.
inline double peakFrequency(BufferManager* m) {
  std::vector<float> spectrum(m->mFFTInputBufferLen / 2);
  m->ComputeFFTOutput(spectrum.data(), MathParams{1, int32_t(m->mFFTInputBufferLen)});
  size_t best = 1;
  for (size_t i = 1; i < spectrum.size(); ++i)
    if (spectrum[i] > spectrum[best]) best = i;
  return double(best) * 44100.0 / m->mFFTInputBufferLen;
}

}  // namespace capturetest
