#pragma once
// The vector DSP calls the spectrum analysis uses, with the phone platform's packing and scaling,
// over FFTW (single precision). A set-up holds every plan and buffer it needs for transforms of
// 2^1 … 2^log2n points; the calls themselves allocate nothing, except that the first transform of
// a pair of unit-stride parts makes FFTW's plan for them (see vDSP.cpp). The real transform is
// FFTW's complex transform of the N/2 sample pairs, on the split parts where they are, turned
// into the real spectrum.
#include <cstdint>

extern "C" {

typedef unsigned long vDSP_Length;
typedef long vDSP_Stride;

typedef struct DSPComplex {
  float real;
  float imag;
} DSPComplex;

typedef struct DSPSplitComplex {
  float* realp;
  float* imagp;
} DSPSplitComplex;

typedef int FFTDirection;
typedef int FFTRadix;
enum { kFFTDirection_Forward = 1, kFFTDirection_Inverse = -1 };
enum { kFFTRadix2 = 0, kFFTRadix3 = 1, kFFTRadix5 = 2 };

typedef struct OpaqueFFTSetup* FFTSetup;

// A set-up for real transforms of up to 2^log2n points (radix 2 only; 1 ≤ log2n ≤ 24).
// Null when the arguments are not supported or memory is short.
FFTSetup vDSP_create_fftsetup(vDSP_Length log2n, FFTRadix radix);
void vDSP_destroy_fftsetup(FFTSetup setup);  // null is ignored

// Interleaved complex to split complex: element j of `z` (stride iz) takes the pair that starts at
// float index j × ic of `c` (ic counts floats; 2 means consecutive pairs).
void vDSP_ctoz(const DSPComplex* c, vDSP_Stride ic, const DSPSplitComplex* z, vDSP_Stride iz,
               vDSP_Length n);

// In-place forward real FFT of 2^log2n points held as 2^(log2n-1) split pairs (even samples in
// realp, odd samples in imagp). The result is packed: realp[0] = 2·X[0], imagp[0] = 2·X[N/2], and
// realp[k] + i·imagp[k] = 2·X[k] for 0 < k < N/2, X being the mathematical DFT
// X[k] = Σ x[n]·e^(−2πikn/N). Only the forward direction is provided; an unsupported direction, or
// a size beyond the set-up, leaves the data unchanged.
void vDSP_fft_zrip(FFTSetup setup, const DSPSplitComplex* c, vDSP_Stride ic, vDSP_Length log2n,
                   FFTDirection direction);

// c[i·ic] = a[i·ia] × *b.
void vDSP_vsmul(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                vDSP_Length n);
// c[i·ic] = a[i·ia] + *b.
void vDSP_vsadd(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                vDSP_Length n);
// c[i·ic] = realp[i·ia]² + imagp[i·ia]².
void vDSP_zvmags(const DSPSplitComplex* a, vDSP_Stride ia, float* c, vDSP_Stride ic, vDSP_Length n);
// Decibels: c = 10·log10(a / *b) when flag is 0 (power), 20·log10(a / *b) otherwise (amplitude),
// within 2 units in the last place (contiguous vectors take a vectorised logarithm; zero gives
// minus infinity and a negative ratio not a number, as the library logarithm does).
void vDSP_vdbcon(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic,
                 vDSP_Length n, unsigned int flag);

}  // extern "C"
