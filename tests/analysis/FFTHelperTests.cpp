#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/FFTHelper.h"
#include "analysis/SpectrumAverager.h"

namespace {
std::vector<float> sine(size_t n, double frequency, double amplitude = 1.0) {
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i) x[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * i / 44100.0));
  return x;
}
}  // namespace

TEST(FFTHelper, SilenceMapsToMinus128AndFullScaleDCLandsInBinZeroOnly) {
  FFTHelper helper(512);
  std::vector<float> input(512, 0.0f), output(256, 1.0f);
  helper.ComputeFFT(input.data(), output.data(), MathParams{0, 512});
  for (float db : output) ASSERT_NEAR(db, -128.0f, 1e-4);

  FFTHelper dcHelper(1024);
  std::vector<float> dc(1024, 1.0f), dcOut(512);
  dcHelper.ComputeFFT(dc.data(), dcOut.data(), MathParams{0, 1024});
  EXPECT_NEAR(dcOut[0], 0.0f, 1e-4);  // full-scale power 1.0 is 0 dB
  // The packed Nyquist term is dropped, so no other bin (the last included) holds anything.
  for (size_t k = 1; k < dcOut.size(); ++k) ASSERT_NEAR(dcOut[k], -128.0f, 0.01) << k;
}

TEST(FFTHelper, SinePeakSitsWithinOneBinOfItsFrequency) {
  for (uint32_t n : {256u, 4096u, 16384u}) {
    for (int32_t window : {0, 1, 2, 4, 5, 6}) {
      FFTHelper helper(n);
      std::vector<float> input = sine(n, 1000.0, 0.5), output(n / 2);
      helper.ComputeFFT(input.data(), output.data(), MathParams{window, static_cast<int32_t>(n)});
      const size_t peak = std::max_element(output.begin(), output.end()) - output.begin();
      const double binWidth = 22050.0 / (n / 2);
      EXPECT_LE(std::abs(peak * binWidth - 1000.0), binWidth) << "n=" << n << " window=" << window;
      EXPECT_GT(output[peak], -30.0f);
    }
  }
  // Unwindowed, a bin-centred sine of amplitude A has power (A/2)² in its bin.
  FFTHelper helper(1024);
  const double binFrequency = 40 * 22050.0 / 512;
  std::vector<float> input = sine(1024, binFrequency, 1.0), output(512);
  helper.ComputeFFT(input.data(), output.data(), MathParams{0, 1024});
  EXPECT_NEAR(output[40], 10.0 * std::log10(0.25), 0.01);
}

TEST(FFTHelper, WindowWeightsAtTheEdgesAndTheMiddle) {
  const uint32_t L = 512;
  EXPECT_FLOAT_EQ(FFTHelper::WindowWeight(0, L, 1), 0.0f);
  EXPECT_NEAR(FFTHelper::WindowWeight(L - 1, L, 1), 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(FFTHelper::WindowWeight(L / 2 - 1, L, 1), FFTHelper::WindowWeight(L / 2, L, 1));
  EXPECT_LT(FFTHelper::WindowWeight(L / 2, L, 1), 1.0f);
  EXPECT_GT(FFTHelper::WindowWeight(L / 2, L, 1), 0.9999f);
  EXPECT_NEAR(FFTHelper::WindowWeight(0, L, 2), 0.08f, 1e-6);
  EXPECT_NEAR(FFTHelper::WindowWeight(0, L, 4), 0.0f, 1e-7);
  EXPECT_NEAR(FFTHelper::WindowWeight(L / 2, L, 4), 1.0f, 1e-4);
  EXPECT_NEAR(FFTHelper::WindowWeight(0, L, 5), 0.841f, 1e-3);
  EXPECT_NEAR(FFTHelper::WindowWeight(L - 1, L, 5), 0.393f, 1e-3);
  EXPECT_NEAR(FFTHelper::WindowWeight(0, L, 6), 0.00006f, 1e-7);
  EXPECT_NEAR(FFTHelper::WindowWeight(L - 1, L, 6), 0.00006f, 1e-7);
  EXPECT_LT(FFTHelper::WindowWeight(L / 2, L, 6), 1.0f);
  EXPECT_GT(FFTHelper::WindowWeight(L / 2, L, 6), 0.9999f);
  for (int32_t neutral : {0, 3, 7, -1}) EXPECT_EQ(FFTHelper::WindowWeight(17, L, neutral), 1.0f);
}

TEST(FFTHelper, ApplyWindowLeavesSamplesUnchangedForNeutralNumbersAndComputeFFTWindowsItsInput) {
  FFTHelper helper(256);
  std::vector<float> samples(256, 0.75f);
  for (int32_t neutral : {0, 3, 9, -4}) helper.ApplyWindow(samples.data(), MathParams{neutral, 256});
  EXPECT_EQ(samples, std::vector<float>(256, 0.75f));

  // Switching windows recomputes the weights: the Hanning pass after a Hamming pass uses Hanning's.
  std::vector<float> a(256, 1.0f), b(256, 1.0f);
  helper.ApplyWindow(a.data(), MathParams{2, 256});
  helper.ApplyWindow(b.data(), MathParams{1, 256});
  EXPECT_NEAR(a[0], 0.08f, 1e-6);
  EXPECT_EQ(b[0], 0.0f);

  std::vector<float> input(256, 1.0f), output(128);
  helper.ComputeFFT(input.data(), output.data(), MathParams{1, 256});
  EXPECT_EQ(input[0], 0.0f);
  EXPECT_FLOAT_EQ(input[100], FFTHelper::WindowWeight(100, 256, 1));

  std::vector<float> untouched(128, 7.0f);
  helper.ComputeFFT(nullptr, untouched.data(), MathParams{});
  helper.ComputeFFT(input.data(), nullptr, MathParams{});
  EXPECT_EQ(untouched, std::vector<float>(128, 7.0f));
}

TEST(FFTHelper, FrameLengthMustBeAPowerOfTwoFrom256To16384) {
  for (int64_t ok : {256, 512, 1024, 16384}) EXPECT_TRUE(FFTHelper::isValidFrameLength(ok)) << ok;
  for (int64_t bad : {0, 1, 128, 255, 300, 1000, 32768, -512}) EXPECT_FALSE(FFTHelper::isValidFrameLength(bad)) << bad;
  EXPECT_THROW(FFTHelper(1000), std::invalid_argument);
  EXPECT_THROW(FFTHelper(128), std::invalid_argument);
  FFTHelper helper(2048);
  EXPECT_EQ(helper.log2N(), 11u);
  EXPECT_EQ(helper.halfLength(), 1024u);
  EXPECT_FLOAT_EQ(helper.scale(), 1.0f / 4096.0f);
}

TEST(FFTHelper, OutputIsTheMeanOfTheLastFifteenFrames) {
  FFTHelper helper(256);
  std::vector<float> silence(256, 0.0f), dc(256, 1.0f), out(128);
  helper.ComputeFFT(dc.data(), out.data(), MathParams{});
  EXPECT_NEAR(out[0], 0.0f, 1e-4);  // the first output is that frame's own spectrum
  helper.ComputeFFT(silence.data(), out.data(), MathParams{});
  EXPECT_NEAR(out[0], -64.0f, 1e-3);  // mean of 0 and -128 dB
  for (int i = 0; i < 13; ++i) {
    std::fill(silence.begin(), silence.end(), 0.0f);
    helper.ComputeFFT(silence.data(), out.data(), MathParams{});
  }
  EXPECT_NEAR(out[0], -128.0f * 14 / 15, 1e-3);  // 15 frames: one DC, fourteen silent
  std::fill(silence.begin(), silence.end(), 0.0f);
  helper.ComputeFFT(silence.data(), out.data(), MathParams{});
  EXPECT_NEAR(out[0], -128.0f, 1e-3);  // the DC frame was the oldest and is gone
}

TEST(SpectrumAverager, RingOverwritesTheOldestSlotAndDividesBeforeAdding) {
  SpectrumAverager averager(2, 15);
  std::vector<float> mean(2, 99.0f);
  averager.GetMean(mean.data());
  EXPECT_EQ(mean, (std::vector<float>{0.0f, 0.0f}));
  for (int i = 1; i <= 20; ++i) {
    const float frame[2] = {static_cast<float>(i), static_cast<float>(-2 * i)};
    averager.AddSpectrum(frame);
    averager.GetMean(mean.data());
    const int first = std::max(1, i - 14);
    const int count = i - first + 1;
    float expected = 0.0f;
    for (int v = first; v <= i; ++v) expected += static_cast<float>(v) / count;
    EXPECT_NEAR(mean[0], expected, 1e-4) << i;
    EXPECT_NEAR(mean[1], -2.0f * expected, 1e-4) << i;
  }
  EXPECT_EQ(averager.filledCount(), 15);
  EXPECT_EQ(averager.writeIndex(), 20 % 15);
  EXPECT_THROW(SpectrumAverager(0, 15), std::invalid_argument);
}

// Once the ring is full the averager keeps each spectrum already divided, and the sums of the slots
// the next spectrum leaves alone; its means must stay those of dividing every term at averaging
// time, to the last bit, as the ring fills and turns.
TEST(SpectrumAverager, MeansEqualDividingEveryTermInSlotOrder) {
  uint32_t seed = 5;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
  };
  for (int32_t slots : {1, 2, 15}) {
    for (int32_t bins : {1, 7, 16, 33, 128, 1000}) {
      SpectrumAverager averager(bins, slots);
      std::vector<std::vector<float>> history;
      std::vector<float> spectrum(static_cast<size_t>(bins)), mean(static_cast<size_t>(bins));
      for (int frame = 0; frame < 3 * slots + 5; ++frame) {
        for (float& v : spectrum) v = -140.0f + 150.0f * next();
        if (frame % 4 == 3) spectrum[0] = 0.0f;
        averager.AddSpectrum(spectrum.data());
        history.push_back(spectrum);
        // A mean starts from the sums the last one kept: spectra added without a mean between them,
        // and a mean asked for twice, must not change it.
        if (frame % 5 == 2) continue;
        if (frame % 3 == 1) averager.GetMean(mean.data());
        averager.GetMean(mean.data());
        // The ring as the plain algorithm keeps it: slot j holds frame j, j + slots, ...
        const int32_t filled = std::min<int32_t>(frame + 1, slots);
        for (int32_t b = 0; b < bins; ++b) {
          float expected = 0.0f;
          for (int32_t j = 0; j < filled; ++j) {
            int32_t latest = j;
            while (latest + slots <= frame) latest += slots;
            expected += history[static_cast<size_t>(latest)][static_cast<size_t>(b)] / static_cast<float>(filled);
          }
          ASSERT_EQ(std::memcmp(&mean[static_cast<size_t>(b)], &expected, sizeof expected), 0)
              << "slots " << slots << " bins " << bins << " frame " << frame << " bin " << b << ": "
              << mean[static_cast<size_t>(b)] << " vs " << expected;
        }
      }
    }
  }
}

// ComputeFFT scales, squares and floors the bins in one pass; its output must be, to the last bit,
// that of the steps taken one after another through the platform's vector calls, frame after frame
// (the averaging included), for every window and size.
TEST(FFTHelper, OutputIsTheStepByStepComputationBitForBit) {
  uint32_t seed = 17;
  for (uint32_t n : {256u, 2048u, 16384u}) {
    FFTHelper helper(n);
    const uint32_t half = n / 2;
    FFTSetup setup = vDSP_create_fftsetup(helper.log2N(), kFFTRadix2);
    ASSERT_NE(setup, nullptr);
    std::vector<float> realp(half), imagp(half), expected(half), output(half);
    SpectrumAverager averager(static_cast<int32_t>(half), FFTHelper::kAveragedFrames);
    for (int frame = 0; frame < 18; ++frame) {
      const int32_t window = frame % 7;
      std::vector<float> samples(n);
      for (float& x : samples) {
        seed = seed * 1664525u + 1013904223u;
        x = (static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f) * (frame % 3 == 0 ? 2.0f : 0.01f);
      }
      std::vector<float> reference = samples;
      for (uint32_t i = 0; i < n; ++i) reference[i] *= FFTHelper::WindowWeight(i, n, window);
      DSPSplitComplex split{realp.data(), imagp.data()};
      vDSP_ctoz(reinterpret_cast<const DSPComplex*>(reference.data()), 2, &split, 1, half);
      vDSP_fft_zrip(setup, &split, 1, helper.log2N(), kFFTDirection_Forward);
      const float scale = helper.scale();
      vDSP_vsmul(split.realp, 1, &scale, split.realp, 1, half);
      vDSP_vsmul(split.imagp, 1, &scale, split.imagp, 1, half);
      split.imagp[0] = 0.0f;
      vDSP_zvmags(&split, 1, expected.data(), 1, half);
      vDSP_vsadd(expected.data(), 1, &FFTHelper::kPowerFloor, expected.data(), 1, half);
      const float one = 1.0f;
      vDSP_vdbcon(expected.data(), 1, &one, expected.data(), 1, half, 0);
      averager.AddSpectrum(expected.data());
      averager.GetMean(expected.data());

      helper.ComputeFFT(samples.data(), output.data(), MathParams{window, static_cast<int32_t>(n)});
      ASSERT_EQ(std::memcmp(output.data(), expected.data(), half * sizeof(float)), 0) << "n " << n << " frame " << frame;
    }
    vDSP_destroy_fftsetup(setup);
  }
}

// A cleared ring averages what comes after the clear alone, to the last bit as a new ring does,
// whether it was filling, full, or full and turning with the sums kept from its last mean.
TEST(SpectrumAverager, AClearedRingAveragesOnlyWhatComesAfterIt) {
  uint32_t seed = 11;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return -140.0f + 150.0f * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
  };
  for (int32_t slots : {1, 2, 15}) {
    for (int32_t bins : {7, 33}) {
      for (int32_t before : {0, 1, slots, 2 * slots + 3}) {
        SpectrumAverager cleared(bins, slots), fresh(bins, slots);
        std::vector<float> spectrum(static_cast<size_t>(bins)), mean(spectrum.size()), expected(spectrum.size());
        for (int32_t frame = 0; frame < before; ++frame) {
          for (float& v : spectrum) v = next();
          cleared.AddSpectrum(spectrum.data());
          cleared.GetMean(mean.data());
        }
        cleared.Clear();
        EXPECT_EQ(cleared.filledCount(), 0);
        cleared.GetMean(mean.data());
        EXPECT_EQ(mean, std::vector<float>(spectrum.size(), 0.0f)) << "an empty ring's mean";
        for (int32_t frame = 0; frame < 2 * slots + 2; ++frame) {
          for (float& v : spectrum) v = next();
          cleared.AddSpectrum(spectrum.data());
          fresh.AddSpectrum(spectrum.data());
          cleared.GetMean(mean.data());
          fresh.GetMean(expected.data());
          ASSERT_EQ(std::memcmp(mean.data(), expected.data(), mean.size() * sizeof(float)), 0)
              << "slots " << slots << " bins " << bins << " cleared after " << before << ", frame " << frame;
        }
      }
    }
  }
}
