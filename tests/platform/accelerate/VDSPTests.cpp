#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "platform/accelerate/vDSP.h"

namespace {

std::vector<std::complex<double>> directDFT(const std::vector<float>& x) {
  const size_t n = x.size();
  std::vector<std::complex<double>> result(n);
  for (size_t k = 0; k < n; ++k) {
    std::complex<double> sum = 0.0;
    for (size_t t = 0; t < n; ++t) {
      const double angle = -2.0 * M_PI * static_cast<double>(k * t % n) / static_cast<double>(n);
      sum += static_cast<double>(x[t]) * std::complex<double>(std::cos(angle), std::sin(angle));
    }
    result[k] = sum;
  }
  return result;
}

std::vector<float> randomSignal(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = dist(rng);
  return x;
}

}  // namespace

// The packed forward transform must match twice the mathematical DFT, with DC and Nyquist sharing
// the first pair, for every size a set-up serves (including sizes below its maximum).
TEST(VDSP, ForwardRealFFTIsTwiceTheDFTPacked) {
  FFTSetup setup = vDSP_create_fftsetup(10, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  for (vDSP_Length log2n : {1ul, 3ul, 8ul, 10ul}) {
    const size_t n = size_t{1} << log2n;
    const std::vector<float> x = randomSignal(n, static_cast<unsigned>(log2n));
    const auto expected = directDFT(x);
    std::vector<float> re(n / 2), im(n / 2);
    DSPSplitComplex split{re.data(), im.data()};
    vDSP_ctoz(reinterpret_cast<const DSPComplex*>(x.data()), 2, &split, 1, n / 2);
    vDSP_fft_zrip(setup, &split, 1, log2n, kFFTDirection_Forward);
    const double tolerance = 1e-4 * static_cast<double>(n);
    EXPECT_NEAR(re[0], 2.0 * expected[0].real(), tolerance) << "n=" << n;
    EXPECT_NEAR(im[0], 2.0 * expected[n / 2].real(), tolerance) << "n=" << n;
    for (size_t k = 1; k < n / 2; ++k) {
      EXPECT_NEAR(re[k], 2.0 * expected[k].real(), tolerance) << "n=" << n << " k=" << k;
      EXPECT_NEAR(im[k], 2.0 * expected[k].imag(), tolerance) << "n=" << n << " k=" << k;
    }
  }
  vDSP_destroy_fftsetup(setup);
}

TEST(VDSP, SetupRefusesUnsupportedArgumentsAndTransformIgnoresOversizedRequests) {
  EXPECT_EQ(vDSP_create_fftsetup(0, kFFTRadix2), nullptr);
  EXPECT_EQ(vDSP_create_fftsetup(10, kFFTRadix3), nullptr);
  EXPECT_EQ(vDSP_create_fftsetup(40, kFFTRadix2), nullptr);
  vDSP_destroy_fftsetup(nullptr);

  FFTSetup setup = vDSP_create_fftsetup(4, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::vector<float> re(16, 1.0f), im(16, 2.0f);
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_fft_zrip(setup, &split, 1, 5, kFFTDirection_Forward);  // beyond the set-up
  vDSP_fft_zrip(setup, &split, 1, 4, kFFTDirection_Inverse);  // not provided
  EXPECT_EQ(re, std::vector<float>(16, 1.0f));
  EXPECT_EQ(im, std::vector<float>(16, 2.0f));
  vDSP_destroy_fftsetup(setup);
}

TEST(VDSP, CtozSplitsPairsWithStrides) {
  const std::vector<float> interleaved = {0, 1, 2, 3, 4, 5, 6, 7};
  std::vector<float> re(4, -1.0f), im(4, -1.0f);
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_ctoz(reinterpret_cast<const DSPComplex*>(interleaved.data()), 4, &split, 2, 2);
  EXPECT_EQ(re, (std::vector<float>{0, -1, 4, -1}));
  EXPECT_EQ(im, (std::vector<float>{1, -1, 5, -1}));
}

TEST(VDSP, VectorArithmeticAndDecibels) {
  const std::vector<float> a = {1.0f, 10.0f, 100.0f, 0.5f};
  std::vector<float> c(4);
  const float three = 3.0f;
  vDSP_vsmul(a.data(), 1, &three, c.data(), 1, 4);
  EXPECT_EQ(c, (std::vector<float>{3.0f, 30.0f, 300.0f, 1.5f}));
  vDSP_vsadd(a.data(), 1, &three, c.data(), 1, 4);
  EXPECT_EQ(c, (std::vector<float>{4.0f, 13.0f, 103.0f, 3.5f}));

  std::vector<float> re = {3.0f, 0.0f}, im = {4.0f, -2.0f};
  DSPSplitComplex split{re.data(), im.data()};
  std::vector<float> mags(2);
  vDSP_zvmags(&split, 1, mags.data(), 1, 2);
  EXPECT_EQ(mags, (std::vector<float>{25.0f, 4.0f}));

  const float reference = 10.0f;
  std::vector<float> db(4);
  vDSP_vdbcon(a.data(), 1, &reference, db.data(), 1, 4, 0);  // power
  EXPECT_NEAR(db[0], -10.0f, 1e-5);
  EXPECT_NEAR(db[2], 10.0f, 1e-5);
  vDSP_vdbcon(a.data(), 1, &reference, db.data(), 1, 4, 1);  // amplitude
  EXPECT_NEAR(db[0], -20.0f, 1e-5);
  EXPECT_NEAR(db[2], 20.0f, 1e-5);
}

namespace {
int32_t ulpsApart(float a, float b) {
  int32_t ia, ib;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  if ((ia < 0) != (ib < 0)) return a == b ? 0 : INT32_MAX;
  return std::abs(ia - ib);
}
}  // namespace

// The contiguous decibel conversion takes a vectorised logarithm; it must stay within 2 units in
// the last place of the exact value (as close as the library's), and give the library's answer
// for zero, negative, subnormal, infinite and NaN ratios, in place as well.
TEST(VDSP, DecibelsOfContiguousVectorsAgreeWithTheLibraryLogarithm) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> exponent(-45.0, 38.5);
  std::vector<float> a(5000);
  for (float& v : a) v = static_cast<float>(std::pow(10.0, exponent(rng)));
  a[0] = 1.0f;
  a[1] = 0.0f;
  a[2] = -3.0f;
  a[3] = INFINITY;
  a[4] = NAN;
  a[5] = 1e-40f;  // subnormal
  a[6] = 1.5849e-13f;
  for (unsigned flag : {0u, 1u}) {
    for (float reference : {1.0f, 10.0f, 3.7e-5f}) {
      std::vector<float> fast(a.size()), strided(2 * a.size());
      vDSP_vdbcon(a.data(), 1, &reference, fast.data(), 1, a.size(), flag);
      vDSP_vdbcon(a.data(), 1, &reference, strided.data(), 2, a.size(), flag);  // the library path
      const double factor = flag == 0 ? 10.0 : 20.0;
      for (size_t i = 0; i < a.size(); ++i) {
        const float library = strided[2 * i];
        if (std::isnan(library) || std::isinf(library) || !std::isnormal(a[i] / reference)) {
          ASSERT_TRUE(std::memcmp(&fast[i], &library, sizeof library) == 0 || (std::isnan(fast[i]) && std::isnan(library)))
              << i << ": " << fast[i] << " vs " << library;
          continue;
        }
        const float exact = static_cast<float>(factor * std::log10(static_cast<long double>(a[i] / reference)));
        ASSERT_LE(ulpsApart(fast[i], exact), 2) << a[i] << " / " << reference << ": " << fast[i] << " vs " << exact;
        ASSERT_LE(ulpsApart(fast[i], library), 4) << a[i];
      }
    }
  }
  // In place, as the FFT calls it.
  std::vector<float> inPlace = a, separate(a.size());
  const float one = 1.0f;
  vDSP_vdbcon(a.data(), 1, &one, separate.data(), 1, a.size(), 0);
  vDSP_vdbcon(inPlace.data(), 1, &one, inPlace.data(), 1, inPlace.size(), 0);
  EXPECT_EQ(std::memcmp(inPlace.data(), separate.data(), a.size() * sizeof(float)), 0);
  EXPECT_EQ(separate[0], 0.0f);
  EXPECT_TRUE(std::isinf(separate[1]) && separate[1] < 0);
  EXPECT_TRUE(std::isnan(separate[2]));
  EXPECT_NEAR(separate[6], -128.0f, 1e-4);
}

// The unit-stride loops must give what the general strided ones give (the transform runs on the
// parts where they are, or through the set-up's buffers: the same sums, to rounding).
TEST(VDSP, UnitStrideLoopsAgreeWithTheStridedOnes) {
  const size_t n = 512;
  const std::vector<float> x = randomSignal(n, 7);
  FFTSetup setup = vDSP_create_fftsetup(9, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::vector<float> re(n / 2), im(n / 2), re2(n), im2(n, -9.0f);
  DSPSplitComplex split{re.data(), im.data()}, wide{re2.data(), im2.data()};
  vDSP_ctoz(reinterpret_cast<const DSPComplex*>(x.data()), 2, &split, 1, n / 2);
  vDSP_ctoz(reinterpret_cast<const DSPComplex*>(x.data()), 2, &wide, 2, n / 2);
  for (size_t k = 0; k < n / 2; ++k) ASSERT_TRUE(re[k] == re2[2 * k] && im[k] == im2[2 * k]) << k;
  vDSP_fft_zrip(setup, &split, 1, 9, kFFTDirection_Forward);
  vDSP_fft_zrip(setup, &wide, 2, 9, kFFTDirection_Forward);
  for (size_t k = 0; k < n / 2; ++k) {
    ASSERT_NEAR(re[k], re2[2 * k], 1e-4) << k;
    ASSERT_NEAR(im[k], im2[2 * k], 1e-4) << k;
  }
  EXPECT_EQ(im2[1], -9.0f);  // between the strided elements nothing is written
  for (size_t k = 0; k < n / 2; ++k) {
    re2[2 * k] = re[k];
    im2[2 * k] = im[k];
  }
  std::vector<float> mags(n / 2), mags2(n);
  vDSP_zvmags(&split, 1, mags.data(), 1, n / 2);
  vDSP_zvmags(&wide, 2, mags2.data(), 2, n / 2);
  for (size_t k = 0; k < n / 2; ++k) ASSERT_EQ(mags[k], mags2[2 * k]) << k;
  vDSP_destroy_fftsetup(setup);
}
