#include "analysis/SpectrumAverager.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

SpectrumAverager::SpectrumAverager(int32_t binCount, int32_t slotCount)
    : slotCount_(slotCount), binCount_(binCount) {
  if (binCount <= 0 || slotCount <= 0) {
    throw std::invalid_argument("SpectrumAverager needs a positive bin count and slot count");
  }
  storage_ = std::make_unique<float[]>(static_cast<size_t>(binCount) * static_cast<size_t>(slotCount));
}

void SpectrumAverager::AddSpectrum(const float* spectrum) {
  if (!spectrum) return;
  float* destination = slot(writeIndex_);
  if (storedDivided_) {
    const float count = static_cast<float>(slotCount_);
    for (int32_t b = 0; b < binCount_; ++b) destination[b] = spectrum[b] / count;
  } else {
    std::copy_n(spectrum, binCount_, destination);
  }
  writeIndex_ = writeIndex_ + 1 >= slotCount_ ? 0 : writeIndex_ + 1;
  if (filled_ < slotCount_) {
    ++filled_;
    if (filled_ == slotCount_) {
      // From now on every mean divides by slotCount: divide the stored spectra once.
      const float count = static_cast<float>(slotCount_);
      float* values = storage_.get();
      const size_t total = static_cast<size_t>(slotCount_) * static_cast<size_t>(binCount_);
      for (size_t i = 0; i < total; ++i) values[i] /= count;
      storedDivided_ = true;
    }
  }
}

namespace {

// Four bins at a time: a running sum per bin, kept in a register while the slots are read.
typedef float Bins4 __attribute__((vector_size(16)));

inline Bins4 load4(const float* p) {
  Bins4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// output[b] = Σ over slots j in order of values[j][b] (÷ count when `divide`), starting from 0.
template <bool Divide>
void sumSlots(const float* values, size_t stride, int32_t filled, int32_t binCount, float count, float* output) {
  const Bins4 divisor = {count, count, count, count};
  int32_t b = 0;
  for (; b + 16 <= binCount; b += 16) {
    Bins4 s0 = {}, s1 = {}, s2 = {}, s3 = {};
    const float* slot = values + b;
    for (int32_t j = 0; j < filled; ++j, slot += stride) {
      if constexpr (Divide) {
        s0 += load4(slot) / divisor;
        s1 += load4(slot + 4) / divisor;
        s2 += load4(slot + 8) / divisor;
        s3 += load4(slot + 12) / divisor;
      } else {
        s0 += load4(slot);
        s1 += load4(slot + 4);
        s2 += load4(slot + 8);
        s3 += load4(slot + 12);
      }
    }
    std::memcpy(output + b, &s0, sizeof s0);
    std::memcpy(output + b + 4, &s1, sizeof s1);
    std::memcpy(output + b + 8, &s2, sizeof s2);
    std::memcpy(output + b + 12, &s3, sizeof s3);
  }
  for (; b < binCount; ++b) {
    float sum = 0.0f;
    for (int32_t j = 0; j < filled; ++j) {
      const float value = values[static_cast<size_t>(j) * stride + static_cast<size_t>(b)];
      sum += Divide ? value / count : value;
    }
    output[b] = sum;
  }
}

}  // namespace

void SpectrumAverager::GetMean(float* output) const {
  if (!output) return;
  if (filled_ < 1) {
    std::fill_n(output, binCount_, 0.0f);
    return;
  }
  // Every bin sums its terms in slot order starting from 0, one running float sum per bin.
  const size_t stride = static_cast<size_t>(binCount_);
  const float count = static_cast<float>(filled_);
  if (storedDivided_) {
    sumSlots<false>(storage_.get(), stride, filled_, binCount_, count, output);
  } else {
    sumSlots<true>(storage_.get(), stride, filled_, binCount_, count, output);
  }
}
