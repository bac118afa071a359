#include "analysis/FFTHelper.h"

#include "platform/accelerate/VectorClones.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr double kFourPi = 12.566370614359172;

SA_VECTOR_CLONES void multiplyInPlace(float* samples, const float* weights, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) samples[i] *= weights[i];
}

// The power of every bin with the floor added, in one pass: each part scaled, the squared magnitude
// and the floor, the same float operations in the same order as scaling both parts (vDSP_vsmul),
// taking the squared magnitudes (vDSP_zvmags) and adding the floor (vDSP_vsadd) one after another,
// without writing and reading the parts and the powers back in between.
SA_VECTOR_CLONES void scaledPowers(const float* __restrict realp, const float* __restrict imagp, float scale,
                                   float floor, float* __restrict powers, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const float re = realp[i] * scale;
    const float im = imagp[i] * scale;
    powers[i] = (re * re + im * im) + floor;
  }
}

// Bits needed to hold n - 1: ceil(log2 n) for n ≥ 2.
uint32_t bitsFor(uint32_t n) {
  uint32_t bits = 0;
  for (uint32_t v = n - 1; v != 0; v >>= 1) ++bits;
  return bits;
}
}  // namespace

bool FFTHelper::isValidFrameLength(int64_t frameLength) {
  return frameLength >= kMinFrameLength && frameLength <= kMaxFrameLength &&
         (frameLength & (frameLength - 1)) == 0;
}

FFTHelper::FFTHelper(uint32_t frameLength) {
  if (!isValidFrameLength(frameLength)) {
    throw std::invalid_argument("FFT frame length " + std::to_string(frameLength) +
                                " is not a power of two from 256 to 16384");
  }
  halfLength_ = frameLength / 2;
  log2N_ = bitsFor(frameLength);
  scale_ = static_cast<float>(1.0 / (2.0 * static_cast<double>(frameLength)));
  averager_ = std::make_unique<SpectrumAverager>(static_cast<int32_t>(halfLength_), kAveragedFrames);
  realp_ = alignedZeros(halfLength_);
  imagp_ = alignedZeros(halfLength_);
  windowTable_ = std::make_unique<float[]>(frameLength);
  fftSetup_ = vDSP_create_fftsetup(log2N_, kFFTRadix2);
  if (!fftSetup_) throw std::runtime_error("could not create the FFT set-up");
}

FFTHelper::~FFTHelper() { vDSP_destroy_fftsetup(fftSetup_); }

FFTHelper::AlignedFloats FFTHelper::alignedZeros(size_t count) {
  auto* p = static_cast<float*>(::operator new[](count * sizeof(float), std::align_val_t{64}));
  std::fill_n(p, count, 0.0f);
  return AlignedFloats(p);
}

float FFTHelper::WindowWeight(uint32_t i, uint32_t length, int32_t window) {
  const double x = static_cast<double>(i);
  const double span = static_cast<double>(length) - 1.0;
  double weight = 1.0;
  switch (window) {
    case 1:  // Hanning
      weight = 0.5 * (1.0 - std::cos(kTwoPi * x / span));
      break;
    case 2:  // Hamming
      weight = 0.54 - 0.46 * std::cos(kTwoPi * x / span);
      break;
    case 4:  // Cosine
      weight = std::sin(kPi * x / span);
      break;
    case 5: {  // Lanczos, as the analyser has always drawn it: not centred, not scaled
      const double arg = kPi * x / span - 1.0;
      weight = std::sin(arg) / arg;
      break;
    }
    case 6:  // four-term Blackman-Harris
      weight = 0.35875 - 0.48829 * std::cos(kTwoPi * x / span) + 0.14128 * std::cos(kFourPi * x / span) -
               0.01168 * std::cos(3.0 * kTwoPi * x / span);
      break;
    default:  // 0, 3 and anything outside 1 to 6: no window
      break;
  }
  return static_cast<float>(weight);
}

const float* FFTHelper::windowWeights(MathParams params) {
  const uint32_t length = 2 * halfLength_;
  const int32_t window = params.window;
  if (window < 1 || window > 6 || window == 3) return nullptr;  // every weight is 1
  if (window != windowTableNumber_) {
    for (uint32_t i = 0; i < length; ++i) windowTable_[i] = WindowWeight(i, length, window);
    windowTableNumber_ = window;
  }
  return windowTable_.get();
}

void FFTHelper::ApplyWindow(float* samples, MathParams params) {
  if (!samples) return;
  if (const float* weights = windowWeights(params)) multiplyInPlace(samples, weights, 2 * halfLength_);
}

void FFTHelper::ComputeFFT(float* inputSamples, float* output, MathParams params) {
  if (!inputSamples || !output) return;
  ApplyWindow(inputSamples, params);
  DSPSplitComplex split{realp_.get(), imagp_.get()};
  vDSP_ctoz(reinterpret_cast<const DSPComplex*>(inputSamples), 2, &split, 1, halfLength_);
  ComputeFFTOfSplit(output);
}

void FFTHelper::ComputeFFTOfSplit(float* output) {
  if (!output) return;
  DSPSplitComplex split{realp_.get(), imagp_.get()};
  const vDSP_Length half = halfLength_;
  vDSP_fft_zrip(fftSetup_, &split, 1, log2N_, kFFTDirection_Forward);
  // The first imaginary part holds the packed Nyquist term; it is dropped so bin 0 is DC alone.
  split.imagp[0] = 0.0f;
  scaledPowers(split.realp, split.imagp, scale_, kPowerFloor, output, half);
  const float reference = 1.0f;
  vDSP_vdbcon(output, 1, &reference, output, 1, half, 0);

  averager_->AddSpectrum(output);
  averager_->GetMean(output);
}
