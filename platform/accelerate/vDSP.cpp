#include "platform/accelerate/vDSP.h"

#include <fftw3.h>

#include <cmath>
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
  float* in = setup->in;
  for (vDSP_Length j = 0; j < half; ++j) {
    const vDSP_Stride at = static_cast<vDSP_Stride>(j) * ic;
    in[2 * j] = realp[at];
    in[2 * j + 1] = imagp[at];
  }
  fftwf_execute(setup->plans[log2n]);
  const fftwf_complex* out = setup->out;
  // The platform's packing: DC and Nyquist (both real) share the first pair; everything doubled.
  realp[0] = 2.0f * out[0][0];
  imagp[0] = 2.0f * out[half][0];
  for (vDSP_Length k = 1; k < half; ++k) {
    const vDSP_Stride at = static_cast<vDSP_Stride>(k) * ic;
    realp[at] = 2.0f * out[k][0];
    imagp[at] = 2.0f * out[k][1];
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
  for (vDSP_Length i = 0; i < n; ++i) {
    const float re = a->realp[static_cast<vDSP_Stride>(i) * ia];
    const float im = a->imagp[static_cast<vDSP_Stride>(i) * ia];
    c[static_cast<vDSP_Stride>(i) * ic] = re * re + im * im;
  }
}

void vDSP_vdbcon(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                 vDSP_Length n, unsigned int flag) {
  if (!a || !b || !c) return;
  const float factor = flag == 0 ? 10.0f : 20.0f;
  const float reference = *b;
  for (vDSP_Length i = 0; i < n; ++i) {
    c[static_cast<vDSP_Stride>(i) * ic] =
        factor * std::log10(a[static_cast<vDSP_Stride>(i) * ia] / reference);
  }
}
