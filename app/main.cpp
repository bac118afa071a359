// The analyser's entry point. With a desktop display it shows the chart on the live microphone in a
// window (saying "No audio input" while no audio server answers, and picking the server up when it
// does); otherwise (or with --input FILE) it runs the chart for a few seconds on an audio file played
// as if it were the microphone, writes screenshots of the FFT plot, the octave bars and the sonogram
// to out/, prints the readouts once a second and exits.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "analysis/UISpectrumContainerView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzura.h"

namespace {

// Keeps the latest frame's readouts and prints them once a second.
class Readouts : public DataProvideDelegate {
 public:
  void fftValues(const std::vector<float>&) override {}
  void provideData(const std::vector<Value>&) override {}
  void maximusArray(const std::vector<Value>& maximus, const std::vector<Value>&, const std::vector<Value>&) override {
    if (!maximus.empty() && maximus.front().contains("frequency")) peak_ = maximus.front()["frequency"].get<double>();
  }
  void onTouch(const std::vector<Value>&) override {}
  void onTouchEnd() override {}
  void onRemoveMarker() override {}
  void dbaValue(float value) override { dba_ = value; }
  void dbbValue(float) override {}
  void dbcValue(float value) override { dbc_ = value; }
  void dbzValue(float value) override {
    dbz_ = value;
    ++frames_;
  }
  void selectedValues(const std::optional<std::vector<Value>>&) override {}
  void currentLeftPaddingChanged(float) override {}

  void print(const std::string& noInput) const {
    if (!noInput.empty()) {
      std::printf("no audio input: %s\n", noInput.c_str());
    } else if (frames_ == 0) {
      std::printf("waiting for audio...\n");
    } else {
      std::printf("peak %.1f Hz   A %.1f dB   C %.1f dB   Z %.1f dB\n", peak_, dba_, dbc_, dbz_);
    }
    std::fflush(stdout);
  }
  long frames() const { return frames_; }

 private:
  double peak_ = 0;
  float dba_ = 0, dbc_ = 0, dbz_ = 0;
  long frames_ = 0;
};

void usage(std::FILE* to) {
  std::fprintf(to,
               "usage: spectrum-analyser [--input FILE] [--headless] [--out DIR]\n"
               "  --input FILE  analyse FILE (played in real time) and write screenshots\n"
               "  --headless    do not open a window even when a display exists\n"
               "  --out DIR     folder of the screenshots (default: out)\n");
}

bool writeShot(const std::shared_ptr<UIWindow>& window, const std::filesystem::path& path) {
  std::string error;
  if (!UICompositor::writePNG(window, path.string(), &error)) {
    std::fprintf(stderr, "spectrum-analyser: cannot write %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  std::printf("wrote %s\n", path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> input;
  bool headless = false;
  std::filesystem::path outDir = "out";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--input" && i + 1 < argc) {
      input = argv[++i];
    } else if (arg == "--out" && i + 1 < argc) {
      outDir = argv[++i];
    } else if (arg == "--headless") {
      headless = true;
    } else if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "spectrum-analyser: unknown or incomplete option \"%s\"\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }

  // The SDK's default app comes first: a missing or broken service-info list ends start-up.
  ZIRLoggerInitialize();
  RARUruzariduzura::load();
  try {
    ZAVAda::configure();
  } catch (const NSException& e) {
    std::fprintf(stderr, "spectrum-analyser: %s: %s\n", e.name().c_str(), e.reason().c_str());
    return 1;
  }

  // A window needs a display that shows it; without one the run analyses a file headless.
  const bool wantWindow = !input && !headless;
  std::string noDisplay;
  const bool live = wantWindow && SDLWindowHost::displayAvailable(&noDisplay);
  if (wantWindow && !live)
    std::fprintf(stderr, "spectrum-analyser: %s; analysing the demo input without a window\n", noDisplay.c_str());

  auto& session = AVAudioSession::sharedInstance();
  if (!live) {
    std::string file = input ? *input : NSBundle::mainBundle().pathForResource("demo", "wav").value_or("");
    if (file.empty()) {
      std::fprintf(stderr, "spectrum-analyser: the demo input demo.wav is missing from the resources\n");
      return 1;
    }
    session.setInputSpec("file:" + file);
  }
  // An input that cannot work ends the run with one clear message; an audio server that does not
  // answer (yet) leaves the chart saying "No audio input" until it does.
  const AVAudioSession::InputCheck check = session.checkInput();
  if (check.result == AVAudioSession::InputCheck::Unusable || (!live && check.result != AVAudioSession::InputCheck::Ready)) {
    std::fprintf(stderr, "spectrum-analyser: cannot use the audio input: %s\n", check.problem.c_str());
    return 1;
  }
  if (check.result == AVAudioSession::InputCheck::Unavailable)
    std::fprintf(stderr, "spectrum-analyser: no audio input: %s; the chart picks the input up when the server answers\n",
                 check.problem.c_str());
  if (!live) std::printf("analysing %s\n", session.inputSpec().substr(5).c_str());

  UIScreen::mainScreen().configure({568, 320}, 2);
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
  auto chart = UISpectrumContainerView::create(window->bounds());
  window->addSubview(chart);
  window->makeKeyAndVisible();
  auto readouts = std::make_shared<Readouts>();
  chart->delegate = readouts;
  chart->setMathParams(MathParams{1, 4096});
  chart->setScaleType(1);
  chart->setGraphType(0);
  chart->setGraphMode();
  chart->setHoldMaximus(true);
  chart->startAnimation("");
  window->layoutPass();

  auto printer = NSTimer::scheduledTimerWithTimeInterval(
      1.0, true, [readouts, chart](NSTimer&) { readouts->print(chart->audioInputProblem()); });
  auto& loop = NSRunLoop::main();

  if (live) {
    SDLWindowHost host;
    std::string error;
    if (host.open(window, "Spectrum Analyser", &error)) {
      while (host.pumpEvents()) {
        loop.runOnce();
        host.present();
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
      }
      printer->invalidate();
      chart->stopAnimation();
      chart->stopDataProvide();
      return 0;
    }
    std::fprintf(stderr, "spectrum-analyser: no window (%s); writing screenshots instead\n", error.c_str());
  }

  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  if (ec) {
    std::fprintf(stderr, "spectrum-analyser: cannot create %s: %s\n", outDir.c_str(), ec.message().c_str());
    return 1;
  }
  bool ok = true;
  loop.runFor(2.5);
  ok = writeShot(window, outDir / "fft-plot.png") && ok;

  chart->setScaleType(2);
  chart->setGraphType(1);
  loop.runFor(1.5);
  ok = writeShot(window, outDir / "octave-bars.png") && ok;

  chart->setScaleType(1);
  chart->setGraphType(0);
  chart->setSonogramMode(CGSizeMake(0, 0));
  window->layoutPass();  // the new chart rectangle, before the sonogram collects its columns
  loop.runFor(4.0);
  ok = writeShot(window, outDir / "sonogram.png") && ok;

  printer->invalidate();
  chart->stopAnimation();
  chart->stopDataProvide();
  if (readouts->frames() == 0) {
    std::fprintf(stderr, "spectrum-analyser: no audio frame was analysed\n");
    return 1;
  }
  return ok ? 0 : 1;
}
