#include "analysis/SpectrumAverager.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/accelerate/VectorClones.h"

// The ring is kept in blocks of kLanes bins: a block holds its bins' values of slot 0, then of
// slot 1, and so on. The mean of a block then reads one run of memory and sums it in registers,
// instead of reading every slot's spectrum, each far apart from the others.
namespace {

constexpr size_t kLanes = SpectrumAverager::kBlockBins;
typedef float Lanes __attribute__((vector_size(sizeof(float) * SpectrumAverager::kBlockBins)));

// Per bin of each block: Σ over slots j in order of its value (÷ count when `Divide`), from 0, or
// from `prefix` (the sums of slots 0 … first − 1; none when first is 0) on from slot `first`. The
// sums as they stand after slot save − 1 (when first < save ≤ filled) are written to `saved`.
// Four blocks at a time: each sum waits for the addition before it, so four run side by side.
template <bool Divide>
[[gnu::always_inline]] inline void sumBlocks(const float* storage, size_t blocks, size_t slotCount, size_t filled,
                                             float count, const float* prefix, size_t first, size_t save,
                                             float* saved, float* sums) {
  const Lanes divisor = count - Lanes{};
  // Adds the term at `at` to sum (a macro-free helper would hand a vector back by value).
  auto add = [&divisor](Lanes& sum, const float* at) {
    Lanes v;
    std::memcpy(&v, at, sizeof v);
    sum += Divide ? v / divisor : v;
  };
  auto start = [prefix](Lanes& sum, size_t block) {
    if (prefix) {
      std::memcpy(&sum, prefix + block * kLanes, sizeof sum);
    } else {
      sum = Lanes{};
    }
  };
  const bool saving = save > first && save <= filled;
  const size_t saveAt = saving ? save : filled;
  const size_t blockSize = slotCount * kLanes;
  size_t block = 0;
  for (; block + 4 <= blocks; block += 4) {
    const float* values = storage + block * blockSize;
    Lanes s0, s1, s2, s3;
    start(s0, block);
    start(s1, block + 1);
    start(s2, block + 2);
    start(s3, block + 3);
    auto addSlots = [&](size_t from, size_t to) {
      for (size_t j = from; j < to; ++j) {
        const float* at = values + j * kLanes;
        add(s0, at);
        add(s1, at + blockSize);
        add(s2, at + 2 * blockSize);
        add(s3, at + 3 * blockSize);
      }
    };
    addSlots(first, saveAt);
    if (saving) {
      std::memcpy(saved + block * kLanes, &s0, sizeof s0);
      std::memcpy(saved + (block + 1) * kLanes, &s1, sizeof s1);
      std::memcpy(saved + (block + 2) * kLanes, &s2, sizeof s2);
      std::memcpy(saved + (block + 3) * kLanes, &s3, sizeof s3);
    }
    addSlots(saveAt, filled);
    std::memcpy(sums + block * kLanes, &s0, sizeof s0);
    std::memcpy(sums + (block + 1) * kLanes, &s1, sizeof s1);
    std::memcpy(sums + (block + 2) * kLanes, &s2, sizeof s2);
    std::memcpy(sums + (block + 3) * kLanes, &s3, sizeof s3);
  }
  for (; block < blocks; ++block) {
    const float* values = storage + block * blockSize;
    Lanes sum;
    start(sum, block);
    for (size_t j = first; j < saveAt; ++j) add(sum, values + j * kLanes);
    if (saving) std::memcpy(saved + block * kLanes, &sum, sizeof sum);
    for (size_t j = saveAt; j < filled; ++j) add(sum, values + j * kLanes);
    std::memcpy(sums + block * kLanes, &sum, sizeof sum);
  }
}

SA_VECTOR_CLONES void sumBlocksDivided(const float* storage, size_t blocks, size_t slotCount, size_t filled,
                                       const float* prefix, size_t first, size_t save, float* saved, float* sums) {
  sumBlocks<false>(storage, blocks, slotCount, filled, 1.0f, prefix, first, save, saved, sums);
}

SA_VECTOR_CLONES void sumBlocksDividing(const float* storage, size_t blocks, size_t slotCount, size_t filled,
                                        float count, float* sums) {
  sumBlocks<true>(storage, blocks, slotCount, filled, count, nullptr, 0, 0, nullptr, sums);
}

// Slot `slot` of every block takes the spectrum's values (÷ count when `divide`); bins past the
// end of the spectrum (the last block's padding) take 0.
SA_VECTOR_CLONES void storeSlot(const float* spectrum, size_t bins, size_t slotCount, size_t slot, bool divide,
                                float count, float* storage) {
  const size_t blocks = (bins + kLanes - 1) / kLanes;
  for (size_t block = 0; block < blocks; ++block) {
    float* destination = storage + (block * slotCount + slot) * kLanes;
    const size_t first = block * kLanes;
    const size_t length = std::min(kLanes, bins - first);
    if (length == kLanes) {
      Lanes v;
      std::memcpy(&v, spectrum + first, sizeof v);
      if (divide) v = v / (count - Lanes{});
      std::memcpy(destination, &v, sizeof v);
    } else {
      for (size_t b = 0; b < kLanes; ++b) destination[b] = b < length ? (divide ? spectrum[first + b] / count : spectrum[first + b]) : 0.0f;
    }
  }
}

SA_VECTOR_CLONES void divideAll(float* values, float count, size_t n) {
  for (size_t i = 0; i < n; ++i) values[i] /= count;
}

}  // namespace

SpectrumAverager::SpectrumAverager(int32_t binCount, int32_t slotCount)
    : slotCount_(slotCount), binCount_(binCount) {
  if (binCount <= 0 || slotCount <= 0) {
    throw std::invalid_argument("SpectrumAverager needs a positive bin count and slot count");
  }
  blocks_ = (static_cast<size_t>(binCount) + kLanes - 1) / kLanes;
  storage_ = std::make_unique<float[]>(blocks_ * kLanes * static_cast<size_t>(slotCount));
  prefix_ = std::make_unique<float[]>(blocks_ * kLanes);
}

void SpectrumAverager::AddSpectrum(const float* spectrum) {
  if (!spectrum) return;
  storeSlot(spectrum, static_cast<size_t>(binCount_), static_cast<size_t>(slotCount_), static_cast<size_t>(writeIndex_),
            storedDivided_, static_cast<float>(slotCount_), storage_.get());
  // The kept sums cover the slots before prefixSlots_: writing one of them spoils them.
  if (writeIndex_ < prefixSlots_) prefixSlots_ = 0;
  writeIndex_ = writeIndex_ + 1 >= slotCount_ ? 0 : writeIndex_ + 1;
  if (filled_ < slotCount_) {
    ++filled_;
    if (filled_ == slotCount_) {
      // From now on every mean divides by slotCount: divide the stored spectra once.
      divideAll(storage_.get(), static_cast<float>(slotCount_), blocks_ * kLanes * static_cast<size_t>(slotCount_));
      storedDivided_ = true;
      prefixSlots_ = 0;
    }
  }
}

void SpectrumAverager::GetMean(float* output) {
  if (!output) return;
  if (filled_ < 1) {
    std::fill_n(output, binCount_, 0.0f);
    return;
  }
  // Every bin sums its terms in slot order starting from 0, one running float sum per bin. The
  // whole blocks go straight to the output; a padded last block goes through a buffer.
  const size_t slots = static_cast<size_t>(slotCount_);
  const size_t filled = static_cast<size_t>(filled_);
  const size_t whole = static_cast<size_t>(binCount_) / kLanes;
  const float count = static_cast<float>(filled_);
  // A full ring's sums start from the kept sums of the slots that have not been written since, and
  // keep the sums up to the slot written last: the next spectrum goes to the slot after it, so the
  // next mean has those slots' sums already. The same additions in the same order, so the same sums.
  const size_t first = storedDivided_ ? static_cast<size_t>(prefixSlots_) : 0;
  const size_t save = storedDivided_ ? static_cast<size_t>(writeIndex_) : 0;
  const float* prefix = first > 0 ? prefix_.get() : nullptr;
  auto sum = [&](size_t from, size_t blocks, float* sums) {
    const float* storage = storage_.get() + from * slots * kLanes;
    if (storedDivided_) {
      sumBlocksDivided(storage, blocks, slots, filled, prefix ? prefix + from * kLanes : nullptr, first, save,
                       prefix_.get() + from * kLanes, sums);
    } else {
      sumBlocksDividing(storage, blocks, slots, filled, count, sums);
    }
  };
  sum(0, whole, output);
  if (whole < blocks_) {
    float last[kLanes];
    sum(whole, 1, last);
    std::copy_n(last, static_cast<size_t>(binCount_) - whole * kLanes, output + whole * kLanes);
  }
  if (storedDivided_ && save > first) prefixSlots_ = static_cast<int32_t>(save);
}

void SpectrumAverager::Clear() {
  // The slots keep their values: a mean reads only the filled ones, and each is written in full
  // before it is filled again.
  writeIndex_ = 0;
  filled_ = 0;
  storedDivided_ = false;
  prefixSlots_ = 0;
}
