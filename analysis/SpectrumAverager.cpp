#include "analysis/SpectrumAverager.h"

#include <algorithm>
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
  std::copy_n(spectrum, binCount_, storage_.get() + static_cast<size_t>(writeIndex_) * binCount_);
  writeIndex_ = writeIndex_ + 1 >= slotCount_ ? 0 : writeIndex_ + 1;
  if (filled_ < slotCount_) ++filled_;
}

void SpectrumAverager::GetMean(float* output) const {
  if (!output) return;
  if (filled_ < 1) {
    std::fill_n(output, binCount_, 0.0f);
    return;
  }
  const float count = static_cast<float>(filled_);
  // Slot by slot keeps the reads sequential; each bin still sums its terms in slot order.
  std::fill_n(output, binCount_, 0.0f);
  for (int32_t j = 0; j < filled_; ++j) {
    const float* slot = storage_.get() + static_cast<size_t>(j) * binCount_;
    for (int32_t b = 0; b < binCount_; ++b) output[b] += slot[b] / count;
  }
}
