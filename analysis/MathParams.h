#pragma once
// The FFT set-up a chart passes down to its engine and buffer manager.
#include <cstdint>

struct MathParams {
  int32_t window = 0;     // window number: 0 none, 1 Hanning, 2 Hamming, 4 Cosine, 5 Lanczos, 6 Blackman
  int32_t frameSize = 0;  // FFT frame length N in samples
};
