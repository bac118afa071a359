// Per-frame analysis cost (window, FFT, dB, averaging, calibration, weighting, band mapping and
// display points: everything a frame does but drawing) against FFTW's bare real FFT of the same
// size, and the number of allocations a steady-state frame makes (counter "allocs_per_frame").
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "analysis/BandMapping.h"
#include "analysis/BufferManager.h"
#include "analysis/Calibration.h"
#include "analysis/FrequencyWeighting.h"
#include "bench/support/RepeatedRuns.h"

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
long gAllocations = 0;
void* countedAllocation(size_t size, size_t alignment = 0) {
  ++gAllocations;
  if (size == 0) size = 1;
  if (alignment > alignof(std::max_align_t)) return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
  return std::malloc(size);
}
}  // namespace
void* operator new(size_t size) {
  if (void* p = countedAllocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new(size_t size, std::align_val_t a) {
  if (void* p = countedAllocation(size, static_cast<size_t>(a))) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t a) { return operator new(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

struct Frame {
  explicit Frame(uint32_t n)
      : manager(n), spectrum(n / 2), levels(n / 2),
        calibration(Value::array({Value{{"frequency", 20}, {"volume", -1.5}}, Value{{"frequency", 1000}, {"volume", 0.5}},
                                  Value{{"frequency", 20000}, {"volume", 3}}})) {
    mapping.setBackingSize(1136, 640);
    std::vector<float> delivery(n);
    for (uint32_t i = 0; i < n; ++i) delivery[i] = 0.5f * std::sin(0.1f * i) + 0.01f * static_cast<float>(i % 7);
    manager.CopyAudioToFFTInput(delivery.data(), n);
    series.reserve(n / 2);
    points.reserve(n);
    spline.reserve(2048);
  }

  WeightingTable weighting;
  CalibrationTable corrections;
  void run(int32_t scaleType) {
    manager.mFFTFramesReady.store(1);
    manager.ComputeFFTOutput(spectrum.data(), MathParams{1, static_cast<int32_t>(manager.mFFTInputBufferLen)});
    const size_t n = spectrum.size();
    const std::span<const float> correction = corrections.corrections(&calibration, n);
    for (size_t i = 0; i < n; ++i) levels[i] = spectrum[i] + correction[i];
    totals = weighting.totals(levels);
    mapping.setScaleType(scaleType);
    mapping.processData(levels, series);
    mapping.fullOctaveOutput(levels, octaves);
    mapping.vertexArrayFromData(series, 2, points);
    mapping.splineVertexArrayFromData(series, spline);
  }

  BufferManager manager;
  std::vector<float> spectrum, levels, series;
  LinearCalibration calibration;
  BandMapping mapping;
  WeightedTotals totals;
  std::array<float, BandMapping::kFullOctaveCount> octaves{};
  std::vector<DisplayPoint> points, spline;
};

void BM_FrameAnalysis(benchmark::State& state, int size, int scaleType) {
  const uint32_t n = static_cast<uint32_t>(size);
  Frame frame(n);
  frame.run(scaleType);  // warm caches and tables
  frame.run(scaleType);
  const long before = gAllocations;
  const size_t exactBefore = frame.weighting.exactSteps();
  long frames = 0;
  for (auto _ : state) {
    frame.run(scaleType);
    benchmark::DoNotOptimize(frame.totals);
    ++frames;
  }
  state.counters["allocs_per_frame"] = static_cast<double>(gAllocations - before) / static_cast<double>(frames);
  // Weighting steps per frame that had to take the exact power function.
  state.counters["exact_steps"] =
      static_cast<double>(frame.weighting.exactSteps() - exactBefore) / static_cast<double>(frames);
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

void BM_FFTWBareRealFFT(benchmark::State& state, int size) {
  const int n = size;
  float* in = fftwf_alloc_real(n);
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
  for (int i = 0; i < n; ++i) in[i] = std::sin(0.1f * i);
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
  }
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}

}  // namespace

// Prints the results, then per size the ratio of the full frame (linear scale) and of the
// analysis FFT to FFTW's bare transform, beside the targets, from the fastest run of each.
int main(int argc, char** argv) {
  if (!benchsupport::initializeRepeatedRuns(argc, argv)) return 1;

  // Sizes 256 … 16,384; the frame also on scale type 3 (third octaves).
  for (int n = 256; n <= 16384; n *= 2) {
    for (int scale : {0, 3}) {
      benchmark::RegisterBenchmark(("BM_FrameAnalysis/" + std::to_string(n) + "/" + std::to_string(scale)).c_str(),
                                   [n, scale](benchmark::State& state) { BM_FrameAnalysis(state, n, scale); })
          ->ComputeStatistics("min", benchsupport::fastest);
    }
    benchmark::RegisterBenchmark(("BM_FFTHelper/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { BM_FFTHelper(state, n); })
        ->ComputeStatistics("min", benchsupport::fastest);
    benchmark::RegisterBenchmark(("BM_FFTWBareRealFFT/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { BM_FFTWBareRealFFT(state, n); })
        ->ComputeStatistics("min", benchsupport::fastest);
  }

  benchsupport::FastestTimes reporter(benchsupport::FastestTimes::Clock::cpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Targets: the frame within 25, 8 and 5 times the bare transform at 256, 2,048 and 16,384
  // points; the analysis FFT within twice it at every size.
  auto frameTarget = [](int n) { return n == 256 ? 25.0 : n == 2048 ? 8.0 : n == 16384 ? 5.0 : 0.0; };
  std::printf("\n%8s %12s %14s %12s %11s %7s %12s %7s\n", "N", "frame(ns)", "FFTHelper(ns)", "FFTW(ns)",
              "frame/FFTW", "target", "helper/FFTW", "target");
  for (int n = 256; n <= 16384; n *= 2) {
    const double frame = reporter.time("BM_FrameAnalysis/" + std::to_string(n) + "/0");
    const double helper = reporter.time("BM_FFTHelper/" + std::to_string(n));
    const double bare = reporter.time("BM_FFTWBareRealFFT/" + std::to_string(n));
    if (bare <= 0.0) continue;
    char target[16] = "";
    if (frameTarget(n) > 0) std::snprintf(target, sizeof target, "%.0f", frameTarget(n));
    std::printf("%8d %12.0f %14.0f %12.0f %11.2f %7s %12.2f %7s\n", n, frame, helper, bare, frame / bare, target,
                helper / bare, "2");
  }
  benchmark::Shutdown();
  return 0;
}
