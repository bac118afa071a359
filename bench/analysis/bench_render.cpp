// The time to draw one frame of each chart mode headless (Mesa's software rasteriser when the
// machine has no GPU), on a full-screen chart of 1136 × 560 pixels.
#include <benchmark/benchmark.h>

#include <cmath>

#include "analysis/UISpectrumView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/uikit/UIScreen.h"

namespace {

std::shared_ptr<UISpectrumView> makeView(benchmark::State& state) {
  // The views' engines take the hand-driven input: the benchmark measures drawing, not capture.
  AVAudioSession::sharedInstance().setInputSpec("test");
  UIScreen::mainScreen().configure({568, 280}, 2);
  if (!EAGLContext::isAvailable()) {
    state.SkipWithError("no GL on this machine");
    return nullptr;
  }
  auto view = UISpectrumView::create(CGRectMake(0, 0, 568, 280));
  view->stopAnimation();
  return view;
}

std::vector<float> testSpectrum(size_t n) {
  std::vector<float> levels(n);
  for (size_t i = 0; i < n; ++i) levels[i] = -90.0f + 40.0f * std::sin(static_cast<float>(i) * 0.07f);
  return levels;
}

// The view's whole frame without drawing: calibration, weighted totals, band series, holds,
// display points and peak reports.
void BM_ViewFrameWithoutDrawing(benchmark::State& state) {
  auto view = makeView(state);
  if (!view) return;
  view->setScaleType(1);
  view->setHoldMaximum(true);
  view->needDrawPlot = false;
  const auto spectrum = testSpectrum(static_cast<size_t>(state.range(0)));
  view->processSpectrum(spectrum);
  for (auto _ : state) view->processSpectrum(spectrum);
}
BENCHMARK(BM_ViewFrameWithoutDrawing)->Arg(128)->Arg(1024)->Arg(8192)->Unit(benchmark::kMicrosecond);

void BM_DrawGraphFrame(benchmark::State& state) {
  auto view = makeView(state);
  if (!view) return;
  view->setScaleType(1);
  view->setHoldMaximum(true);
  view->needFill = true;
  view->processSpectrum(testSpectrum(2048));
  view->processSpectrum(testSpectrum(2048));
  for (auto _ : state) view->drawView();
}
BENCHMARK(BM_DrawGraphFrame)->Unit(benchmark::kMillisecond);

void BM_DrawBarsFrame(benchmark::State& state) {
  auto view = makeView(state);
  if (!view) return;
  view->setScaleType(3);
  view->setGraphType(1);
  view->setHoldMaximum(true);
  view->processSpectrum(testSpectrum(2048));
  view->processSpectrum(testSpectrum(2048));
  for (auto _ : state) view->drawView();
}
BENCHMARK(BM_DrawBarsFrame)->Unit(benchmark::kMillisecond);

void BM_DrawSonogramFrame(benchmark::State& state) {
  auto view = makeView(state);
  if (!view) return;
  view->spectrumMode = 1;
  view->sonogramColors = UISpectrumView::defaultSonogramColors();
  view->sonogramData = testSpectrum(2048);
  view->drawView();  // builds the ring
  for (auto _ : state) view->drawView();  // one new column and the whole ring drawn
}
BENCHMARK(BM_DrawSonogramFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
