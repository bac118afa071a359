#include "platform/accelerate/vDSP.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

// FFTW's planner is not thread-safe; every plan is made and destroyed under this lock. Executing a
// plan needs no lock. A set-up's scratch buffers are its own, so one set-up serves one thread at a time.
static std::mutex& plannerMutex() {
  static std::mutex mutex;
  return mutex;
}

static constexpr vDSP_Length kMaxLog2n = 24;

struct OpaqueFFTSetup {
  vDSP_Length log2n = 0;
  float* in = nullptr;                  // 2^log2n real samples
  fftwf_complex* out = nullptr;         // 2^(log2n-1) + 1 bins
  fftwf_plan plans[kMaxLog2n + 1] = {};  // plans[k]: forward real transform of 2^k points
};

static void releaseSetup(OpaqueFFTSetup* setup) {
  {
    std::lock_guard<std::mutex> lock(plannerMutex());
    for (auto& plan : setup->plans) {
      if (plan) fftwf_destroy_plan(plan);
      plan = nullptr;
    }
  }
  fftwf_free(setup->in);
  fftwf_free(setup->out);
  delete setup;
}

FFTSetup vDSP_create_fftsetup(vDSP_Length log2n, FFTRadix radix) {
  if (radix != kFFTRadix2 || log2n < 1 || log2n > kMaxLog2n) return nullptr;
  auto* setup = new (std::nothrow) OpaqueFFTSetup;
  if (!setup) return nullptr;
  setup->log2n = log2n;
  const size_t n = size_t{1} << log2n;
  setup->in = static_cast<float*>(fftwf_malloc(sizeof(float) * n));
  setup->out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
  bool ok = setup->in && setup->out;
  if (ok) {
    std::lock_guard<std::mutex> lock(plannerMutex());
    for (vDSP_Length k = 1; k <= log2n && ok; ++k) {
      // FFTW_ESTIMATE plans quickly and leaves the buffers untouched; every size shares them.
      setup->plans[k] = fftwf_plan_dft_r2c_1d(1 << k, setup->in, setup->out, FFTW_ESTIMATE);
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
    float* __restrict realp = z->realp;
    float* __restrict imagp = z->imagp;
    for (vDSP_Length j = 0; j < n; ++j) {
      realp[j] = source[2 * j];
      imagp[j] = source[2 * j + 1];
    }
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
  float* __restrict in = setup->in;
  if (ic == 1) {
    for (vDSP_Length j = 0; j < half; ++j) {
      in[2 * j] = realp[j];
      in[2 * j + 1] = imagp[j];
    }
  } else {
    for (vDSP_Length j = 0; j < half; ++j) {
      const vDSP_Stride at = static_cast<vDSP_Stride>(j) * ic;
      in[2 * j] = realp[at];
      in[2 * j + 1] = imagp[at];
    }
  }
  fftwf_execute(setup->plans[log2n]);
  const float* __restrict out = reinterpret_cast<const float*>(setup->out);
  // The platform's packing: DC and Nyquist (both real) share the first pair; everything doubled.
  realp[0] = 2.0f * out[0];
  imagp[0] = 2.0f * out[2 * half];
  if (ic == 1) {
    float* __restrict re = realp;
    float* __restrict im = imagp;
    for (vDSP_Length k = 1; k < half; ++k) {
      re[k] = 2.0f * out[2 * k];
      im[k] = 2.0f * out[2 * k + 1];
    }
    return;
  }
  for (vDSP_Length k = 1; k < half; ++k) {
    const vDSP_Stride at = static_cast<vDSP_Stride>(k) * ic;
    realp[at] = 2.0f * out[2 * k];
    imagp[at] = 2.0f * out[2 * k + 1];
  }
}

void vDSP_vsmul(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                vDSP_Length n) {
  if (!a || !b || !c) return;
  const float factor = *b;
  if (ia == 1 && ic == 1) {
    for (vDSP_Length i = 0; i < n; ++i) c[i] = a[i] * factor;
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
    for (vDSP_Length i = 0; i < n; ++i) c[i] = a[i] + addend;
    return;
  }
  for (vDSP_Length i = 0; i < n; ++i) {
    c[static_cast<vDSP_Stride>(i) * ic] = a[static_cast<vDSP_Stride>(i) * ia] + addend;
  }
}

void vDSP_zvmags(const DSPSplitComplex* a, vDSP_Stride ia, float* c, vDSP_Stride ic, vDSP_Length n) {
  if (!a || !a->realp || !a->imagp || !c) return;
  if (ia == 1 && ic == 1) {
    const float* realp = a->realp;
    const float* imagp = a->imagp;
    for (vDSP_Length i = 0; i < n; ++i) c[i] = realp[i] * realp[i] + imagp[i] * imagp[i];
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
inline float decibelsOfNormal(float x) {
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
inline bool isPositiveNormal(float x) { return static_cast<bool>((x >= FLT_MIN) & (x <= FLT_MAX)); }

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
  // Block by block, so that the input is still there for the rare value outside the fast path
  // (zero, negative, subnormal, infinite, not a number) even when the output overwrites it.
  const float scale = factor / 10.0f;  // 1 or 2: exact
  constexpr vDSP_Length kBlock = 64;
  float block[kBlock];
  for (vDSP_Length start = 0; start < n; start += kBlock) {
    const vDSP_Length length = std::min(kBlock, n - start);
    const float* source = a + start;
    int special = 0;
    for (vDSP_Length i = 0; i < length; ++i) {
      const float x = source[i] / reference;
      block[i] = scale * decibelsOfNormal(x);
      special |= !isPositiveNormal(x);
    }
    if (special) {
      for (vDSP_Length i = 0; i < length; ++i) {
        const float x = source[i] / reference;
        if (!isPositiveNormal(x)) block[i] = factor * std::log10(x);
      }
    }
    std::memcpy(c + start, block, length * sizeof(float));
  }
}
