// Per-frame analysis cost (window, FFT, dB, averaging, calibration, weighting, band mapping and
// display points: everything a frame does but drawing) against FFTW's bare real FFT of the same
// size, and the number of allocations a steady-state frame makes (counter "allocs_per_frame").
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "analysis/BandMapping.h"
#include "analysis/BufferManager.h"
#include "analysis/Calibration.h"
#include "analysis/FrequencyWeighting.h"

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

void BM_FrameAnalysis(benchmark::State& state) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  Frame frame(n);
  frame.run(static_cast<int32_t>(state.range(1)));  // warm caches and tables
  frame.run(static_cast<int32_t>(state.range(1)));
  const long before = gAllocations;
  const size_t exactBefore = frame.weighting.exactSteps();
  long frames = 0;
  for (auto _ : state) {
    frame.run(static_cast<int32_t>(state.range(1)));
    benchmark::DoNotOptimize(frame.totals);
    ++frames;
  }
  state.counters["allocs_per_frame"] = static_cast<double>(gAllocations - before) / static_cast<double>(frames);
  // Weighting steps per frame that had to take the exact power function.
  state.counters["exact_steps"] =
      static_cast<double>(frame.weighting.exactSteps() - exactBefore) / static_cast<double>(frames);
}

// The analysis FFT alone (window, packed FFT, scaling, magnitudes, dB, averaging).
void BM_FFTHelper(benchmark::State& state) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  FFTHelper helper(n);
  std::vector<float> input(n), work(n), output(n / 2);
  for (uint32_t i = 0; i < n; ++i) input[i] = std::sin(0.1f * i);
  for (auto _ : state) {
    work = input;
    helper.ComputeFFT(work.data(), output.data(), MathParams{1, static_cast<int32_t>(n)});
    benchmark::DoNotOptimize(output.data());
  }
}

void BM_FFTWBareRealFFT(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
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

// Sizes 256 … 16,384; second argument the scale type (0 linear bins, 3 third octaves).
BENCHMARK(BM_FrameAnalysis)->ArgsProduct({benchmark::CreateRange(256, 16384, 2), {0, 3}});
BENCHMARK(BM_FFTHelper)->RangeMultiplier(2)->Range(256, 16384);
BENCHMARK(BM_FFTWBareRealFFT)->RangeMultiplier(2)->Range(256, 16384);

// Prints the results, then per size the ratio of the full frame (linear scale) and of the
// analysis FFT to FFTW's bare transform.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  class Collector : public benchmark::ConsoleReporter {
   public:
    bool ReportContext(const Context& context) override { return ConsoleReporter::ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
      ConsoleReporter::ReportRuns(runs);
      for (const Run& run : runs) times.emplace_back(run.benchmark_name(), run.GetAdjustedCPUTime());
    }
    std::vector<std::pair<std::string, double>> times;
  } reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto find = [&](const std::string& name) -> double {
    for (auto& [key, value] : reporter.times) if (key == name) return value;
    return 0.0;
  };
  std::printf("\n%8s %14s %14s %14s %12s %12s\n", "N", "frame(ns)", "FFTHelper(ns)", "FFTW(ns)", "frame/FFTW", "helper/FFTW");
  for (int n = 256; n <= 16384; n *= 2) {
    const double frame = find("BM_FrameAnalysis/" + std::to_string(n) + "/0");
    const double helper = find("BM_FFTHelper/" + std::to_string(n));
    const double bare = find("BM_FFTWBareRealFFT/" + std::to_string(n));
    if (bare <= 0.0) continue;
    std::printf("%8d %14.0f %14.0f %14.0f %12.2f %12.2f\n", n, frame, helper, bare, frame / bare, helper / bare);
  }
  benchmark::Shutdown();
  return 0;
}
