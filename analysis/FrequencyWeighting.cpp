#include "analysis/FrequencyWeighting.h"

#include "platform/accelerate/VectorClones.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {
constexpr double k12200Sq = 148840000.0;  // 12200²
constexpr double k20_6Sq = 424.36;        // 20.6²
constexpr double k107_7Sq = 11599.29;     // 107.7²
constexpr double k737_9Sq = 544496.41;    // 737.9²
constexpr double k158_5Sq = 25122.25;     // 158.5²
}  // namespace

float FrequencyWeighting::aWeight(float frequency) {
  const double f = frequency;
  const double f2 = f * f;
  const double gain = k12200Sq * std::pow(f, 4.0) /
                      ((f2 + k20_6Sq) * (f2 + k12200Sq) * std::sqrt((f2 + k107_7Sq) * (f2 + k737_9Sq)));
  return static_cast<float>(20.0 * std::log10(gain) + 2.0);
}

float FrequencyWeighting::bWeight(float frequency) {
  const double f = frequency;
  const double f2 = f * f;
  const double gain = k12200Sq * std::pow(f, 3.0) / ((f2 + k12200Sq) * (f2 + k20_6Sq) * std::sqrt(f2 + k158_5Sq));
  return static_cast<float>(20.0 * std::log10(gain) + 0.17);
}

float FrequencyWeighting::cWeight(float frequency) {
  const double f = frequency;
  const double f2 = f * f;
  const double gain = k12200Sq * f2 / ((f2 + k20_6Sq) * (f2 + k12200Sq));
  return static_cast<float>(20.0 * std::log10(gain) + 0.06);
}

float FrequencyWeighting::zWeight(float) { return 0.0f; }

float FrequencyWeighting::binFrequency(size_t index, size_t binCount) {
  if (binCount == 0) return 0.0f;
  return static_cast<float>(static_cast<double>(index) * (22050.0 / static_cast<double>(binCount)));
}

WeightedTotals FrequencyWeighting::weightedTotals(std::span<const float> levels) {
  float sumA = 0.0f, sumB = 0.0f, sumC = 0.0f, sumZ = 0.0f;
  const size_t n = levels.size();
  for (size_t i = 0; i < n; ++i) {
    const float level = levels[i];
    const float f = binFrequency(i, n);
    sumA = addWeightedTerm(sumA, level, aWeight(f));
    sumB = addWeightedTerm(sumB, level, bWeight(f));
    sumC = addWeightedTerm(sumC, level, cWeight(f));
    sumZ = addWeightedTerm(sumZ, level, zWeight(f));
  }
  return WeightedTotals{static_cast<float>(10.0 * std::log10(sumA)), static_cast<float>(10.0 * std::log10(sumB)),
                        static_cast<float>(10.0 * std::log10(sumC)), static_cast<float>(10.0 * std::log10(sumZ))};
}

namespace {

// e^a for |a| ≤ 700 (any other a gives some number, not an error), within 1.9e-14 of it (about
// 170 units of 2^-53), without a library call so that a loop of it vectorises: a = k·ln 2 + r with
// |r| ≤ ln 2 / 2 (ln 2 in two parts, so that k·ln 2 loses nothing), e^r by a polynomial of degree
// 9 fitted to it over that range (a Chebyshev fit, close to the best of its degree), times 2^k
// put together from its bits. The weighted totals need no more: their steps bound this error and
// take the exact power function where it could matter.
//
// Written once for a double and for vectors of them, each lane taking the double's operations; W
// arguments at a time, every step taken for all W before the next, so that their chains overlap.
template <typename Real, typename Bits, size_t W>
[[gnu::always_inline]] inline void exponentialsOf(Real (&a)[W]) {
  constexpr double kInvLn2 = 1.4426950408889634;
  constexpr double kLn2High = 0x1.62e42fee00000p-1;
  constexpr double kLn2Low = 0x1.a39ef35793c76p-33;
  constexpr double kRound = 0x1.8p52;  // adding it rounds to an integer held in the low bits
  constexpr double kPolynomial[] = {0x1.72e107c874de9p-19, 0x1.a17df0d914d6cp-16, 0x1.a01994c849582p-13,
                                    0x1.6c162bb7d965cp-10, 0x1.11111123bf154p-7,  0x1.55555588b8403p-5,
                                    0x1.5555555550d88p-3,  0x1.ffffffffe74f1p-2,  0x1.0000000000006p+0,
                                    0x1.000000000003dp+0};
  Real r[W], p[W];
  Bits scale[W];
  for (size_t j = 0; j < W; ++j) {
    const Real shifted = a[j] * kInvLn2 + kRound;
    const Real k = shifted - kRound;
    scale[j] = (__builtin_bit_cast(Bits, shifted) - __builtin_bit_cast(uint64_t, kRound) + 1023) << 52;
    r[j] = (a[j] - k * kLn2High) - k * kLn2Low;
    p[j] = kPolynomial[0] + Real{};
  }
  for (size_t c = 1; c < std::size(kPolynomial); ++c) {
    for (size_t j = 0; j < W; ++j) p[j] = p[j] * r[j] + kPolynomial[c];
  }
  for (size_t j = 0; j < W; ++j) a[j] = p[j] * __builtin_bit_cast(Real, scale[j]);
}
[[gnu::always_inline]] inline double exponential(double a) {
  double value[1] = {a};
  exponentialsOf<double, uint64_t>(value);
  return value[0];
}

// Why the fast step gives the exact step's sum.
//
// The exact step rounds u = sum + pow(10, (level + weight) × 0.1) to double, then to float. The
// fast step uses the term 10^(level/10) × 10^(weight/10) from exponential and the precomputed
// gain instead. With level and weight within [kLowest, kHighest] dB the two terms differ by at
// most (1.04 × (|level| + |weight|) + 176) × 2^-53 of the term (the rounding of the exponentials'
// arguments grows with their size; exponential (170), pow, the sum and the product add the rest):
// at most 800 units in the last place of u, since the term is at most u. Both u then round to the
// same float unless a float rounding boundary (a midpoint between two floats) lies within that
// distance; a step that close to one (kMidpointGuard units, two and a half times the bound) takes
// the exact path. A weight of minus infinity (0 Hz) gives a term of exactly 0 both ways. The lower
// bound keeps every other term above FLT_MIN, so u is 0 or at least a normal float's size, where
// the low 29 bits of the double tell the distance to the nearest midpoint; a sum beyond the float
// range rounds to infinity both ways, and the midpoint there (half a step above the largest
// float) is found like any other.
constexpr float kLowest = -185.0f;
constexpr float kHighest = 300.0f;
constexpr uint64_t kMidpointGuard = 2048;
// The bins gridSteps takes at a time, and the runs of rounding steps after it stopped (totals).
constexpr size_t kGridBlock = 16;
constexpr size_t kFirstRoundingRun = 16;
constexpr size_t kLastRoundingRun = 256;

bool inFastRange(float value) { return value >= kLowest && value <= kHighest; }

// exponential of kPowerLanes levels at once: the chain of the polynomial is long, and many of them
// side by side keep the vector units busy while each waits.
typedef double PowerLanes __attribute__((vector_size(4 * sizeof(double))));
typedef uint64_t PowerBits __attribute__((vector_size(4 * sizeof(double))));
typedef float PowerLevels __attribute__((vector_size(4 * sizeof(float))));
constexpr size_t kPowerVectors = 4;
constexpr size_t kPowerLanes = 4 * kPowerVectors;

// 10^(level / 10) of every level; not a number where the bin has no fast term: its level is out of
// the fast range, or one of its gains is (its mask is then not a number, and 0 otherwise, which
// adds nothing; no masks: every mask is 0). Each power is exponential's of its own level, whichever
// way it is computed.
SA_VECTOR_CLONES void powersOfLevels(const float* levels, const double* masks, double* powers, size_t n) {
  constexpr double kLn10Over10 = 0.23025850929940458;  // ln(10) / 10
  constexpr uint64_t kNotANumber = 0x7FF8000000000000;
  size_t i = 0;
  for (; i + kPowerLanes <= n; i += kPowerLanes) {
    PowerLanes values[kPowerVectors];
    for (size_t j = 0; j < kPowerVectors; ++j) {
      PowerLevels single;
      std::memcpy(&single, levels + i + 4 * j, sizeof single);
      values[j] = __builtin_convertvector(single, PowerLanes) * kLn10Over10;
    }
    exponentialsOf<PowerLanes, PowerBits>(values);
    for (size_t j = 0; j < kPowerVectors; ++j) {
      PowerLanes power = values[j];
      if (masks) {
        PowerLanes mask;
        std::memcpy(&mask, masks + i + 4 * j, sizeof mask);
        power = power + mask;
      }
      std::memcpy(powers + i + 4 * j, &power, sizeof power);
    }
  }
  for (; i < n; ++i) {
    powers[i] = exponential(static_cast<double>(levels[i]) * kLn10Over10);
    if (masks) powers[i] = powers[i] + masks[i];
  }
  // Chosen by bits rather than by a branch, so that the loop stays one run of vector operations.
  for (i = 0; i < n; ++i) {
    const float level = levels[i];
    const uint64_t keep = 0 - (static_cast<uint64_t>(level >= kLowest) & static_cast<uint64_t>(level <= kHighest));
    powers[i] = std::bit_cast<double>((std::bit_cast<uint64_t>(powers[i]) & keep) | (kNotANumber & ~keep));
  }
}

// Whether u lies within kMidpointGuard units in the last place of a midpoint between two floats:
// its 29 bits below a float's precision are then close to 1 followed by 28 zeros.
inline bool nearFloatMidpoint(double u) {
  constexpr uint64_t kLowBits = (uint64_t{1} << 29) - 1;
  constexpr uint64_t kMidpoint = uint64_t{1} << 28;
  return (std::bit_cast<uint64_t>(u) & kLowBits) - (kMidpoint - kMidpointGuard) < 2 * kMidpointGuard;
}

}  // namespace

double WeightingTable::finishStep(double sum, double u, float level, size_t w, size_t i) {
  if (u == u && !nearFloatMidpoint(u)) return static_cast<float>(u);
  ++exactSteps_;
  return FrequencyWeighting::addWeightedTerm(static_cast<float>(sum), level, weights_[w][i]);
}

void WeightingTable::prepare(size_t n) {
  if (weights_[0].size() == n) return;
  powers_.resize(n);
  weightMasks_.assign(n, 0.0);
  anyMasked_ = false;
  float (*const weightings[kWeightings])(float) = {&FrequencyWeighting::aWeight, &FrequencyWeighting::bWeight,
                                                   &FrequencyWeighting::cWeight, &FrequencyWeighting::zWeight};
  gains_.resize(kWeightings * n);
  for (size_t w = 0; w < kWeightings; ++w) {
    weights_[w].resize(n);
    for (size_t i = 0; i < n; ++i) {
      const float weight = weightings[w](FrequencyWeighting::binFrequency(i, n));
      weights_[w][i] = weight;
      gains_[kWeightings * i + w] = std::pow(10.0, static_cast<double>(weight) * 0.1);
      const bool silent = std::isinf(weight) && weight < 0;  // gain exactly 0
      if (!silent && !inFastRange(weight)) {
        weightMasks_[i] = NAN;
        anyMasked_ = true;
      }
    }
  }
}

namespace {

typedef double FourSums __attribute__((vector_size(4 * sizeof(double))));  // A, B, C, Z
typedef uint64_t FourBits __attribute__((vector_size(4 * sizeof(double))));

// The fast steps of the four sums, bin after bin from `from` up to `end`, as long as every step may
// take its fast term: u = sum + power × gain, rounded to float. u is never within kMidpointGuard
// units of a float midpoint here and lies in the normal float range (or is 0), so rounding to
// nearest is adding half a float unit to its bits and clearing the bits below the float's
// precision; a carry into the exponent is the right result too. Returns the bin at which it
// stopped: `end`, or a bin whose step must take finishStep (a level or gain out of the fast range,
// u near a midpoint, or u beyond the largest float).
SA_VECTOR_CLONES size_t fastSteps(const double* powers, const double* gains, size_t from, size_t end, double* sums) {
  constexpr uint64_t kLowBits = (uint64_t{1} << 29) - 1;
  constexpr uint64_t kHalf = uint64_t{1} << 28;
  constexpr double kFloatMax = 3.4028234663852886e38;
  FourSums sum;
  std::memcpy(&sum, sums, sizeof sum);
  size_t i = from;
  for (; i < end; ++i) {
    FourSums gain;
    std::memcpy(&gain, gains + 4 * i, sizeof gain);
    const FourSums u = sum + powers[i] * gain;
    const FourBits bits = reinterpret_cast<FourBits>(u);
    const auto near = ((bits & kLowBits) - (kHalf - kMidpointGuard)) < 2 * kMidpointGuard;
    const auto beyond = (u <= kFloatMax) == 0;  // also not a number
    const auto stop = near | beyond;
    if ((stop[0] | stop[1] | stop[2] | stop[3]) != 0) [[unlikely]] break;
    sum = reinterpret_cast<FourSums>((bits + kHalf) & ~kLowBits);
  }
  std::memcpy(sums, &sum, sizeof sum);
  return i;
}

// The same steps while every sum is above 0 and stays within its binade, [2^e, 2^(e+1)).
//
// There the floats are the multiples of one unit, 2^(e-23), and the sum is one of them; so the
// float nearest to sum + term is sum plus the term rounded to the nearest multiple of the unit
// (a tie is never decided here: the term is then within the guard of a midpoint, as above). In
// units that rounding is the term times a power of two, rounded to an integer, and the sum is an
// integer below 2^24: the step from one sum to the next is an exact addition of integers, and the
// rounding of each term is work off that chain. The guard is the same distance, kMidpointGuard
// units of a double near the sum, which is 2^-18 of a float unit. A step that would leave the
// binade, or whose term is near a midpoint or not a fast one, stops the loop; the caller takes it
// as before and comes back with the sums in their new binades.
SA_VECTOR_CLONES size_t gridSteps(const double* powers, const double* gains, size_t from, size_t end, double* sums) {
  constexpr uint64_t kExponent = uint64_t{0x7FF} << 52;
  constexpr uint64_t kMagnitude = ~(uint64_t{1} << 63);
  constexpr double kRoundToInteger = 0x1p52;  // adding and taking it away rounds 0 ≤ r < 2^51 to an integer
  constexpr double kUnits = 0x1p24;           // units in a binade
  constexpr double kHalfUnit = 0.5 - 0x1p-18;  // a term's fraction of a unit must be this far from a half
  FourSums sum;
  std::memcpy(&sum, sums, sizeof sum);
  const FourSums binade = reinterpret_cast<FourSums>(reinterpret_cast<FourBits>(sum) & kExponent);  // 2^e
  // The steps below are those in units (the term times 2^23 / 2^e, rounded to an integer, and so
  // on) with every number scaled by the unit, 2^(e-23): scaling by a power of two is exact for the
  // normal numbers all of them are, so the comparisons decide the same and the sums are the same
  // multiples of the unit, without a multiplication by 2^23 / 2^e per term.
  const FourSums unit = binade * 0x1p-23;
  const FourSums roundAt = kRoundToInteger * unit;  // adding and taking it away rounds to a multiple of the unit
  const FourSums halfAt = kHalfUnit * unit;
  const FourSums top = kUnits * unit;  // 2^(e+1)
  size_t i = from;
  // kGridBlock bins at a time. A term's rounding does not depend on the sum, and the rounded terms
  // are whole units, none negative: their additions are exact, so the block's terms go into two
  // running totals (the same sum in any order) rather than one after another, and since the sum
  // only grows it stays inside the binade at every step when it does at the block's end. A block
  // with a step that may not be taken is done again bin by bin up to that step.
  constexpr size_t kBlock = kGridBlock;
#define GRID_TERM(bin, rounded, fine)                                                                          \
  FourSums rounded;                                                                                          \
  FourBits fine;                                                                                             \
  {                                                                                                          \
    FourSums gain;                                                                                           \
    std::memcpy(&gain, gains + 4 * (bin), sizeof gain);                                                      \
    const FourSums term = powers[bin] * gain;                                                                \
    rounded = (term + roundAt) - roundAt;                                                                    \
    const FourSums fraction = reinterpret_cast<FourSums>(reinterpret_cast<FourBits>(term - rounded) & kMagnitude); \
    fine = reinterpret_cast<FourBits>(fraction < halfAt);                                                    \
  }
  // One step: the term rounded to a multiple of the unit; the next sum; whether the step may be
  // taken (false for anything not a number, such as a bin without a fast term).
#define GRID_STEP(bin, next, fine)        \
  GRID_TERM(bin, next##Rounded, fine)     \
  const FourSums next = sum + next##Rounded; \
  fine &= reinterpret_cast<FourBits>(next < top);
  for (; i + kBlock <= end; i += kBlock) {
    FourSums even = {}, odd = {};
    FourBits allFine = ~FourBits{};
    for (size_t j = 0; j < kBlock; j += 2) {
      GRID_TERM(i + j, r0, f0)
      GRID_TERM(i + j + 1, r1, f1)
      even += r0;
      odd += r1;
      allFine &= f0 & f1;
    }
    const FourSums next = sum + (even + odd);
    allFine &= reinterpret_cast<FourBits>(next < top);
    if ((allFine[0] & allFine[1] & allFine[2] & allFine[3]) == 0) [[unlikely]] break;
    sum = next;
  }
  for (; i < end; ++i) {
    GRID_STEP(i, next, fine)
    if ((fine[0] & fine[1] & fine[2] & fine[3]) == 0) break;
    sum = next;
  }
#undef GRID_STEP
#undef GRID_TERM
  std::memcpy(sums, &sum, sizeof sum);
  return i;
}

}  // namespace

WeightedTotals WeightingTable::totals(std::span<const float> levels) {
  prepare(levels.size());
  const size_t n = levels.size();
  double* const powers = powers_.data();
  // (Masks of 0 add nothing to a power, which is a number or infinity: without a mask that is not
  // a number, the frame does not read them.)
  powersOfLevels(levels.data(), anyMasked_ ? weightMasks_.data() : nullptr, powers, n);

  const double* const gains = gains_.data();
  // The sums are floats, held in doubles between the steps: A, B, C, Z.
  alignas(32) double sums[kWeightings] = {0.0, 0.0, 0.0, 0.0};
  size_t i = 0;
  // Where the sums still grow fast (the first bins, the bins up to a loud one) some sum leaves its
  // binade every few bins, and each time the grid steps stop, redo their block and start again,
  // which costs more than the rounding steps of those bins. After the grid steps stopped, the
  // bins up to gridFrom take the rounding steps (the same sums), for a run that doubles while the
  // grid steps stop again at once.
  size_t gridFrom = 0;
  size_t roundingRun = kFirstRoundingRun;
  while (i < n) {
    // A sum of 0 has no binade: such a bin takes the rounding step.
    const bool positive = sums[0] > 0.0 && sums[1] > 0.0 && sums[2] > 0.0 && sums[3] > 0.0;
    const bool grid = positive && i >= gridFrom;
    const size_t end = grid ? n : positive ? std::min(n, gridFrom) : i + 1;
    const size_t from = i;
    i = grid ? gridSteps(powers, gains, i, end, sums) : fastSteps(powers, gains, i, end, sums);
    if (grid && i < end) {
      roundingRun = i - from < kGridBlock ? std::min(2 * roundingRun, kLastRoundingRun) : kFirstRoundingRun;
      gridFrom = i + 1 + roundingRun;
    }
    if (i == end) continue;
    // This bin's steps as the exact path takes them (u not a number when there is no fast term).
    const float level = levels[i];
    const double power = powers[i];
    const double* const gain = gains + kWeightings * i;
    for (size_t w = 0; w < kWeightings; ++w) sums[w] = finishStep(sums[w], sums[w] + power * gain[w], level, w, i);
    ++i;
  }
  return WeightedTotals{static_cast<float>(10.0 * std::log10(static_cast<float>(sums[0]))),
                        static_cast<float>(10.0 * std::log10(static_cast<float>(sums[1]))),
                        static_cast<float>(10.0 * std::log10(static_cast<float>(sums[2]))),
                        static_cast<float>(10.0 * std::log10(static_cast<float>(sums[3])))};
}
