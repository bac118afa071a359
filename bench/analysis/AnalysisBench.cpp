// The analysis's real frame: the spectrum view's own frame (invalidate: the frame taken from the
// buffer manager, window, FFT, dB, averaging, calibration, weighted totals, band series, full-octave
// output, held maximum and minimum, display points of all three series, peak records, the sonogram
// copy and the delegate reports), with drawing off and both holds on, against FFTW's bare real
// FFT of the same size planned with FFTW_MEASURE. Also counts the allocations the view makes per
// frame, and times the analysis FFT alone. The screen's defaults: linear scale, line trace
// smoothed by the spline, rectangular window.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/BufferManager.h"
#include "analysis/Calibration.h"
#include "analysis/FFTHelper.h"
#include "analysis/UISpectrumView.h"
#include "bench/support/RepeatedRuns.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/uikit/UIScreen.h"
#include "tests/support/allocations/AllocationCounter.h"

namespace {

// The screen's chart: 568 × 280 points at a scale of 2.
constexpr int kChartWidthPoints = 568;
constexpr int kChartHeightPoints = 280;
// Samples delivered before each frame, so that every frame analyses a window it has not seen.
// (A tick brings some 1,838 samples at 44,100 Hz; storing them is the render thread's work, not
// the frame's, and a shorter slide keeps that work out of the frame's time. What a frame costs does
// not depend on how far the window slid.)
constexpr uint32_t kSamplesPerTick = 64;

// A container's side of the reports: reads what a screen reads, allocates nothing.
class FrameReports : public MaximusDelegate {
 public:
  void setMaximus(const std::vector<Value>& maximus, const std::vector<Value>& holdedMax,
                  const std::vector<Value>& holdedMin, float dba, float dbb, float dbc, float dbz) override {
    float peak = 0.0f;
    for (const auto* list : {&maximus, &holdedMax, &holdedMin}) {
      if (!list->empty()) peak += (*list)[0].at("volume").get<float>() + (*list)[0].at("frequency").get<float>();
    }
    checksum += peak + dba + dbb + dbc + dbz;
  }
  void setFullOctaveOutput(const std::vector<float>& levels) override {
    for (float level : levels) checksum += level;
  }
  float checksum = 0.0f;
};

// The most allocations a timed frame made, per frame size, over every run.
std::map<int, double>& allocationsPerFrame() {
  static std::map<int, double> perSize;
  return perSize;
}

// Tones and a little noise at levels inside the chart's range, long enough that every frame's window
// differs from the last.
std::vector<float> inputSignal(size_t length) {
  std::vector<float> signal(length);
  uint32_t noise = 12345;
  for (size_t i = 0; i < length; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / 44100.0;
    signal[i] = static_cast<float>(0.05 * std::sin(2 * M_PI * 440.0 * t) + 0.01 * std::sin(2 * M_PI * 3150.0 * t) +
                                   0.002 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5));
  }
  return signal;
}

void BM_ViewFrame(benchmark::State& state, int size) {
  const uint32_t n = static_cast<uint32_t>(size);
  // The view's own engine takes the hand-driven input and stays stopped: frames come from the
  // buffer manager below, fed as the render thread would.
  AVAudioSession::sharedInstance().setInputSpec("test");
  UIScreen::mainScreen().configure({kChartWidthPoints, kChartHeightPoints}, 2);
  auto view = UISpectrumView::create(CGRectMake(0, 0, kChartWidthPoints, kChartHeightPoints));
  view->stopAnimation();
  if (view->backingWidth == 0) {
    // Without GL the view has no renderbuffer; it analyses for one of the chart's size all the same.
    view->backingWidth = 2 * kChartWidthPoints;
    view->backingHeight = 2 * kChartHeightPoints;
  }
  BufferManager manager(n);
  view->setBufferManager(&manager);
  view->needDrawPlot = false;
  view->setHoldMaximum(true);
  view->setHoldMinimum(true);
  view->currentCalibration = std::make_shared<LinearCalibration>(Value::array(
      {Value{{"frequency", 20}, {"volume", -1.5}}, Value{{"frequency", 1000}, {"volume", 0.5}},
       Value{{"frequency", 20000}, {"volume", 3}}}));
  auto reports = std::make_shared<FrameReports>();
  view->maximusDelegate = reports;

  const std::vector<float> signal = inputSignal(4096 * kSamplesPerTick + n);
  size_t position = 0;
  auto frame = [&] {
    manager.CopyAudioToFFTInput(signal.data() + position, kSamplesPerTick);
    position = position + kSamplesPerTick + kSamplesPerTick > signal.size() ? 0 : position + kSamplesPerTick;
    view->invalidate();
  };
  manager.CopyAudioToFFTInput(signal.data(), n);
  for (int i = 0; i < 20; ++i) frame();  // the averaging ring full, the held series running

  const long before = testsupport::allocationsOnThisThread();
  long frames = 0;
  for (auto _ : state) {
    frame();
    ++frames;
  }
  const double allocations =
      static_cast<double>(testsupport::allocationsOnThisThread() - before) / static_cast<double>(std::max(frames, 1L));
  double& most = allocationsPerFrame()[size];
  most = std::max(most, allocations);
  state.counters["allocs_per_frame"] = allocations;
  benchmark::DoNotOptimize(reports->checksum);
  view->setBufferManager(nullptr);
}

// The analysis FFT alone (window, packed FFT, scaling, magnitudes, dB, averaging).
void BM_FFTHelper(benchmark::State& state, int size) {
  const uint32_t n = static_cast<uint32_t>(size);
  FFTHelper helper(n);
  std::vector<float> input(n), work(n), output(n / 2);
  for (uint32_t i = 0; i < n; ++i) input[i] = std::sin(0.1f * i);
  for (auto _ : state) {
    work = input;
    helper.ComputeFFT(work.data(), output.data(), MathParams{1, static_cast<int32_t>(n)});
    benchmark::DoNotOptimize(output.data());
  }
}

// FFTW's real FFT of the same size, planned with `flags`.
void fftwRealFFT(benchmark::State& state, int size, unsigned flags) {
  const int n = size;
  float* in = fftwf_alloc_real(n);
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, flags);  // a measured plan overwrites `in`
  // What measuring learnt would otherwise serve every later plan in this process, the analysis's
  // own among them, which it never has in the application.
  fftwf_forget_wisdom();
  for (int i = 0; i < n; ++i) in[i] = std::sin(0.1f * i);
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
  }
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}

// The baseline of the frame: FFTW's best measured plan.
void BM_FFTWMeasuredRealFFT(benchmark::State& state, int size) { fftwRealFFT(state, size, FFTW_MEASURE); }

// The baseline of the analysis FFT: the analysis plans its transforms with FFTW_ESTIMATE (a measured
// plan is chosen by timing, so its results could differ in their last bits from run to run), so the
// wrapper's own cost is what it adds to a plan made the same way.
void BM_FFTWEstimatedRealFFT(benchmark::State& state, int size) { fftwRealFFT(state, size, FFTW_ESTIMATE); }

}  // namespace

// Prints the results, then per size the ratio of the view's real frame to FFTW's measured transform,
// the view's allocations per frame, and the ratio of the analysis FFT to FFTW's transform planned as
// the analysis plans, beside the targets, from the fastest run of each.
int main(int argc, char** argv) {
  if (!benchsupport::initializeRepeatedRuns(argc, argv)) return 1;

  for (int n = 256; n <= 16384; n *= 2) {
    benchmark::RegisterBenchmark(("BM_ViewFrame/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { BM_ViewFrame(state, n); })
        ->ComputeStatistics("min", benchsupport::fastest);
    benchmark::RegisterBenchmark(("BM_FFTHelper/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { BM_FFTHelper(state, n); })
        ->ComputeStatistics("min", benchsupport::fastest);
    benchmark::RegisterBenchmark(("BM_FFTWMeasuredRealFFT/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { BM_FFTWMeasuredRealFFT(state, n); })
        ->ComputeStatistics("min", benchsupport::fastest);
    benchmark::RegisterBenchmark(("BM_FFTWEstimatedRealFFT/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { BM_FFTWEstimatedRealFFT(state, n); })
        ->ComputeStatistics("min", benchsupport::fastest);
  }

  benchsupport::FastestTimes reporter(benchsupport::FastestTimes::Clock::cpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Targets: the real frame within 25, 8 and 5 times the measured transform at 256, 2,048 and
  // 16,384 points, no allocation by the view in any frame; the analysis FFT within twice the
  // transform planned as it plans its own.
  auto frameTarget = [](int n) { return n == 256 ? 25.0 : n == 2048 ? 8.0 : n == 16384 ? 5.0 : 0.0; };
  std::printf("\nThe view's real frame (drawing off, holds on) against FFTW_MEASURE; the analysis FFT against FFTW_ESTIMATE:\n");
  std::printf("%8s %10s %12s %10s %7s %12s %7s | %13s %14s %11s %7s\n", "N", "frame(ns)", "MEASURE(ns)",
              "frame/FFTW", "target", "allocs/frame", "target", "FFTHelper(ns)", "ESTIMATE(ns)", "helper/FFTW",
              "target");
  for (int n = 256; n <= 16384; n *= 2) {
    const double frame = reporter.time("BM_ViewFrame/" + std::to_string(n));
    const double measured = reporter.time("BM_FFTWMeasuredRealFFT/" + std::to_string(n));
    const double helper = reporter.time("BM_FFTHelper/" + std::to_string(n));
    const double estimated = reporter.time("BM_FFTWEstimatedRealFFT/" + std::to_string(n));
    if (measured <= 0.0 || frame <= 0.0 || estimated <= 0.0) continue;
    char target[16] = "";
    if (frameTarget(n) > 0) std::snprintf(target, sizeof target, "%.0f", frameTarget(n));
    std::printf("%8d %10.0f %12.0f %10.2f %7s %12.2f %7s | %13.0f %14.0f %11.2f %7s\n", n, frame, measured,
                frame / measured, target, allocationsPerFrame()[n], "0", helper, estimated, helper / estimated, "2");
  }
  benchmark::Shutdown();
  return 0;
}
