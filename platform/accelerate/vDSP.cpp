#include "platform/accelerate/vDSP.h"

#include "platform/accelerate/VectorClones.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <numbers>

// FFTW's planner is not thread-safe; every plan is made and destroyed under this lock. Executing a
// plan needs no lock. A set-up's scratch buffers are its own, so one set-up serves one thread at a time.
static std::mutex& plannerMutex() {
  static std::mutex mutex;
  return mutex;
}

static constexpr vDSP_Length kMaxLog2n = 24;

// The unit-stride loops, each in a function of its own so that it gets an AVX2 copy.
namespace {

SA_VECTOR_CLONES void deinterleave(const float* __restrict pairs, float* __restrict even, float* __restrict odd,
                                   vDSP_Length n) {
  for (vDSP_Length j = 0; j < n; ++j) {
    even[j] = pairs[2 * j];
    odd[j] = pairs[2 * j + 1];
  }
}

// The forward real transform of N = 2M points from the complex transform Z (zr, zi) of the M pairs
// z[j] = x[2j] + i·x[2j + 1], in the platform's packing and scaling: re[0] = 2·X[0],
// im[0] = 2·X[M], and re[k] + i·im[k] = 2·X[k], where
// 2·X[k] = (Z[k] + conj Z[M−k]) − i·e^(−2πik/N)·(Z[k] − conj Z[M−k]). Each k is done together with
// M − k, which uses the same two values. cosines[k] and sines[k] are those of 2πk/N, k < M/2.
SA_VECTOR_CLONES void realFromHalfComplex(const float* __restrict zr, const float* __restrict zi,
                                          float* __restrict re, float* __restrict im, vDSP_Length m,
                                          const float* cosines, const float* sines) {
  re[0] = 2.0f * (zr[0] + zi[0]);
  im[0] = 2.0f * (zr[0] - zi[0]);
  const vDSP_Length pairs = m / 2;  // k from 1 below m/2; m/2 itself is its own partner
  for (vDSP_Length k = 1; k < pairs + (m % 2); ++k) {
    const vDSP_Length j = m - k;
    const float evenR = zr[k] + zr[j], evenI = zi[k] - zi[j];
    const float oddR = zr[k] - zr[j], oddI = zi[k] + zi[j];
    const float p = cosines[k] * oddI - sines[k] * oddR;
    const float q = -(cosines[k] * oddR + sines[k] * oddI);
    re[k] = evenR + p;
    im[k] = evenI + q;
    re[j] = evenR - p;
    im[j] = q - evenI;
  }
  if (m >= 2 && m % 2 == 0) {  // 2·X[M/2] = 2·conj Z[M/2]
    re[pairs] = 2.0f * zr[pairs];
    im[pairs] = -2.0f * zi[pairs];
  }
}

SA_VECTOR_CLONES void multiply(const float* a, float factor, float* c, vDSP_Length n) {
  for (vDSP_Length i = 0; i < n; ++i) c[i] = a[i] * factor;
}

SA_VECTOR_CLONES void add(const float* a, float addend, float* c, vDSP_Length n) {
  for (vDSP_Length i = 0; i < n; ++i) c[i] = a[i] + addend;
}

SA_VECTOR_CLONES void squaredMagnitudes(const float* realp, const float* imagp, float* c, vDSP_Length n) {
  for (vDSP_Length i = 0; i < n; ++i) c[i] = realp[i] * realp[i] + imagp[i] * imagp[i];
}

}  // namespace

// A set-up holds, for every size 2^k it serves, FFTW's plan of the complex transform of the 2^(k-1)
// pairs (in place on split real and imaginary parts) and the twiddles that turn its result into the
// real transform, plus buffers for parts that cannot be transformed where they are.
//
// An FFTW plan for split parts runs only on the arrays it was made for (another pair, even aligned
// alike, can lie at another distance apart, which such a plan may rely on). So the first transform
// of unit-stride parts makes a plan for those very parts and keeps it for the next call with them
// (an FFT transforms the same two arrays every frame); other parts go through the set-up's buffers.
struct OpaqueFFTSetup {
  vDSP_Length log2n = 0;
  float* inRe = nullptr;                 // 2^(log2n-1) real parts to transform
  float* inIm = nullptr;                 // 2^(log2n-1) imaginary parts to transform
  float* re = nullptr;                   // the transform's real parts
  float* im = nullptr;                   // the transform's imaginary parts
  fftwf_plan plans[kMaxLog2n + 1] = {};  // plans[k]: 2^(k-1) points from inRe, inIm into re, im
  float* cosines[kMaxLog2n + 1] = {};    // [k]: cos(2πi/2^k) for i < 2^(k-2)
  float* sines[kMaxLog2n + 1] = {};
  // The plan made for the caller's own parts, per size, and the parts it is for.
  fftwf_plan ownPlans[kMaxLog2n + 1] = {};
  const float* ownRe[kMaxLog2n + 1] = {};
  const float* ownIm[kMaxLog2n + 1] = {};
};

// FFTW's plan of the complex transform of `points` pairs from inRe, inIm (which it may overwrite)
// into re, im (null if none). FFTW_ESTIMATE plans quickly and leaves the arrays untouched.
static fftwf_plan planSplit(vDSP_Length points, float* inRe, float* inIm, float* re, float* im) {
  fftw_iodim dimension{static_cast<int>(points), 1, 1};
  return fftwf_plan_guru_split_dft(1, &dimension, 0, nullptr, inRe, inIm, re, im, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
}

static void releaseSetup(OpaqueFFTSetup* setup) {
  {
    std::lock_guard<std::mutex> lock(plannerMutex());
    for (auto& plan : setup->plans) {
      if (plan) fftwf_destroy_plan(plan);
      plan = nullptr;
    }
    for (auto& plan : setup->ownPlans) {
      if (plan) fftwf_destroy_plan(plan);
      plan = nullptr;
    }
  }
  for (vDSP_Length k = 0; k <= kMaxLog2n; ++k) {
    fftwf_free(setup->cosines[k]);
    fftwf_free(setup->sines[k]);
  }
  fftwf_free(setup->inRe);
  fftwf_free(setup->inIm);
  fftwf_free(setup->re);
  fftwf_free(setup->im);
  delete setup;
}

FFTSetup vDSP_create_fftsetup(vDSP_Length log2n, FFTRadix radix) {
  if (radix != kFFTRadix2 || log2n < 1 || log2n > kMaxLog2n) return nullptr;
  auto* setup = new (std::nothrow) OpaqueFFTSetup;
  if (!setup) return nullptr;
  setup->log2n = log2n;
  const size_t half = size_t{1} << (log2n - 1);
  setup->inRe = static_cast<float*>(fftwf_malloc(sizeof(float) * half));
  setup->inIm = static_cast<float*>(fftwf_malloc(sizeof(float) * half));
  setup->re = static_cast<float*>(fftwf_malloc(sizeof(float) * half));
  setup->im = static_cast<float*>(fftwf_malloc(sizeof(float) * half));
  bool ok = setup->inRe && setup->inIm && setup->re && setup->im;
  for (vDSP_Length k = 1; k <= log2n && ok; ++k) {
    const size_t quarter = std::max<size_t>(1, (size_t{1} << k) / 4);
    setup->cosines[k] = static_cast<float*>(fftwf_malloc(sizeof(float) * quarter));
    setup->sines[k] = static_cast<float*>(fftwf_malloc(sizeof(float) * quarter));
    ok = setup->cosines[k] && setup->sines[k];
    for (size_t i = 0; ok && i < quarter; ++i) {
      const double angle = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(size_t{1} << k);
      setup->cosines[k][i] = static_cast<float>(std::cos(angle));
      setup->sines[k][i] = static_cast<float>(std::sin(angle));
    }
  }
  if (ok) {
    std::lock_guard<std::mutex> lock(plannerMutex());
    for (vDSP_Length k = 1; k <= log2n && ok; ++k) {
      // Every size shares the buffers.
      setup->plans[k] = planSplit(vDSP_Length{1} << (k - 1), setup->inRe, setup->inIm, setup->re, setup->im);
      ok = setup->plans[k] != nullptr;
    }
  }
  if (!ok) {
    releaseSetup(setup);
    return nullptr;
  }
  return setup;
}

void vDSP_destroy_fftsetup(FFTSetup setup) {
  if (setup) releaseSetup(setup);
}

void vDSP_ctoz(const DSPComplex* c, vDSP_Stride ic, const DSPSplitComplex* z, vDSP_Stride iz,
               vDSP_Length n) {
  if (!c || !z || !z->realp || !z->imagp) return;
  const float* source = reinterpret_cast<const float*>(c);
  if (ic == 2 && iz == 1) {  // consecutive pairs into consecutive elements: the FFT's packing
    deinterleave(source, z->realp, z->imagp, n);
    return;
  }
  for (vDSP_Length j = 0; j < n; ++j) {
    const float* pair = source + static_cast<vDSP_Stride>(j) * ic;
    z->realp[static_cast<vDSP_Stride>(j) * iz] = pair[0];
    z->imagp[static_cast<vDSP_Stride>(j) * iz] = pair[1];
  }
}

void vDSP_fft_zrip(FFTSetup setup, const DSPSplitComplex* c, vDSP_Stride ic, vDSP_Length log2n,
                   FFTDirection direction) {
  if (!setup || !c || !c->realp || !c->imagp) return;
  if (direction != kFFTDirection_Forward || log2n < 1 || log2n > setup->log2n) return;
  const vDSP_Length half = vDSP_Length{1} << (log2n - 1);
  float* realp = c->realp;
  float* imagp = c->imagp;
  if (ic == 1) {
    if (setup->ownRe[log2n] != realp || setup->ownIm[log2n] != imagp) {
      std::lock_guard<std::mutex> lock(plannerMutex());
      if (setup->ownPlans[log2n]) fftwf_destroy_plan(setup->ownPlans[log2n]);
      setup->ownPlans[log2n] = planSplit(half, realp, imagp, setup->re, setup->im);
      setup->ownRe[log2n] = setup->ownPlans[log2n] ? realp : nullptr;
      setup->ownIm[log2n] = setup->ownPlans[log2n] ? imagp : nullptr;
    }
    if (setup->ownPlans[log2n]) {
      fftwf_execute(setup->ownPlans[log2n]);
      realFromHalfComplex(setup->re, setup->im, realp, imagp, half, setup->cosines[log2n], setup->sines[log2n]);
      return;
    }
  }
  for (vDSP_Length j = 0; j < half; ++j) {
    setup->inRe[j] = realp[static_cast<vDSP_Stride>(j) * ic];
    setup->inIm[j] = imagp[static_cast<vDSP_Stride>(j) * ic];
  }
  fftwf_execute(setup->plans[log2n]);
  // Unpacked into the input buffers, then handed back with the caller's stride.
  realFromHalfComplex(setup->re, setup->im, setup->inRe, setup->inIm, half, setup->cosines[log2n], setup->sines[log2n]);
  for (vDSP_Length k = 0; k < half; ++k) {
    realp[static_cast<vDSP_Stride>(k) * ic] = setup->inRe[k];
    imagp[static_cast<vDSP_Stride>(k) * ic] = setup->inIm[k];
  }
}

void vDSP_vsmul(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                vDSP_Length n) {
  if (!a || !b || !c) return;
  const float factor = *b;
  if (ia == 1 && ic == 1) {
    multiply(a, factor, c, n);
    return;
  }
  for (vDSP_Length i = 0; i < n; ++i) {
    c[static_cast<vDSP_Stride>(i) * ic] = a[static_cast<vDSP_Stride>(i) * ia] * factor;
  }
}

void vDSP_vsadd(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                vDSP_Length n) {
  if (!a || !b || !c) return;
  const float addend = *b;
  if (ia == 1 && ic == 1) {
    add(a, addend, c, n);
    return;
  }
  for (vDSP_Length i = 0; i < n; ++i) {
    c[static_cast<vDSP_Stride>(i) * ic] = a[static_cast<vDSP_Stride>(i) * ia] + addend;
  }
}

void vDSP_zvmags(const DSPSplitComplex* a, vDSP_Stride ia, float* c, vDSP_Stride ic, vDSP_Length n) {
  if (!a || !a->realp || !a->imagp || !c) return;
  if (ia == 1 && ic == 1) {
    squaredMagnitudes(a->realp, a->imagp, c, n);
    return;
  }
  for (vDSP_Length i = 0; i < n; ++i) {
    const float re = a->realp[static_cast<vDSP_Stride>(i) * ia];
    const float im = a->imagp[static_cast<vDSP_Stride>(i) * ia];
    c[static_cast<vDSP_Stride>(i) * ic] = re * re + im * im;
  }
}

namespace {

// 10·log10(x) for a positive, normal, finite x, in single precision without a library call, so
// that a loop of it vectorises. x = 2^e·m with m in [√½, √2); ln m = 2·atanh(s), s = (m − 1)/(m + 1),
// written as f − f²/2 + s·(f²/2 + R) (f = m − 1) so that the rounding errors stay small next to f;
// R is the series 2s²/3 + 2s⁴/5 + 2s⁶/7 + 2s⁸/9 (|s| < 0.172: the next term is below 2⁻²⁸ of ln m).
// The result is within 2 units in the last place of the exact value, as close as log10f's.
[[gnu::always_inline]] inline float decibelsOfNormal(float x) {
  constexpr uint32_t kSqrtHalfBits = 0x3f3504f3u;  // √½: mantissas at or above it keep the exponent
  const int32_t shifted = static_cast<int32_t>(std::bit_cast<uint32_t>(x) - kSqrtHalfBits);
  const int32_t exponent = shifted >> 23;
  const float m = std::bit_cast<float>((static_cast<uint32_t>(shifted) & 0x007fffffu) + kSqrtHalfBits);
  const float f = m - 1.0f;
  const float s = f / (2.0f + f);
  const float z = s * s;
  const float r = z * (2.0f / 3.0f + z * (2.0f / 5.0f + z * (2.0f / 7.0f + z * (2.0f / 9.0f))));
  const float halfSquare = 0.5f * f * f;
  const float lnM = f - (halfSquare - s * (halfSquare + r));
  // 10·log10(2) in two parts: the first has few enough bits that exponent × it is exact.
  constexpr float kTenLog2High = 3.0102996826171875f;
  constexpr float kTenLog2Low = static_cast<float>(3.01029995663981195214 - 3.0102996826171875);
  constexpr float kTenOverLn10 = 4.34294481903251827651f;
  const float e = static_cast<float>(exponent);
  return e * kTenLog2High + (e * kTenLog2Low + kTenOverLn10 * lnM);
}

// Without a branch, so that the loops that use it vectorise.
[[gnu::always_inline]] inline bool isPositiveNormal(float x) { return static_cast<bool>((x >= FLT_MIN) & (x <= FLT_MAX)); }

// vDSP_vdbcon of unit-stride vectors, block by block: a block without a value outside the fast
// path (zero, negative, subnormal, infinite, not a number) is converted straight into the output;
// one with such a value first into a buffer, so that its input is still there for the library
// logarithm even when the output overwrites it. A reference of 1 divides nothing.
template <bool Divide>
[[gnu::always_inline]] inline void decibelsBlocks(const float* a, float reference, float* c, vDSP_Length n,
                                                  float factor) {
  const float scale = factor / 10.0f;  // 1 or 2: exact
  constexpr vDSP_Length kBlock = 64;
  float block[kBlock];
  for (vDSP_Length start = 0; start < n; start += kBlock) {
    const vDSP_Length length = std::min(kBlock, n - start);
    const float* source = a + start;
    int special = 0;
    for (vDSP_Length i = 0; i < length; ++i) special |= !isPositiveNormal(Divide ? source[i] / reference : source[i]);
    if (!special) {
      float* out = c + start;
      for (vDSP_Length i = 0; i < length; ++i) out[i] = scale * decibelsOfNormal(Divide ? source[i] / reference : source[i]);
      continue;
    }
    for (vDSP_Length i = 0; i < length; ++i) {
      const float x = source[i] / reference;
      block[i] = isPositiveNormal(x) ? scale * decibelsOfNormal(x) : factor * std::log10(x);
    }
    std::memcpy(c + start, block, length * sizeof(float));
  }
}

SA_VECTOR_CLONES void decibelsContiguous(const float* a, float reference, float* c, vDSP_Length n, float factor) {
  if (reference == 1.0f) {
    decibelsBlocks<false>(a, reference, c, n, factor);
  } else {
    decibelsBlocks<true>(a, reference, c, n, factor);
  }
}

}  // namespace

void vDSP_vdbcon(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                 vDSP_Length n, unsigned int flag) {
  if (!a || !b || !c) return;
  const float factor = flag == 0 ? 10.0f : 20.0f;
  const float reference = *b;
  if (ia != 1 || ic != 1) {
    for (vDSP_Length i = 0; i < n; ++i) {
      c[static_cast<vDSP_Stride>(i) * ic] =
          factor * std::log10(a[static_cast<vDSP_Stride>(i) * ia] / reference);
    }
    return;
  }
  decibelsContiguous(a, reference, c, n, factor);
}
