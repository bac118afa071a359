// The analyser's entry point. With a desktop display it opens the analyser screen in a window on
// the live microphone (the chart says "No audio input" while no audio server answers, and picks the
// server up when it does); otherwise (or with --headless or --input FILE) it plays an audio file as
// if it were the microphone, tours the three modes, writes a screenshot of each to out/, prints the
// readouts and exits.
#include <cstdio>
#include <string>

#include "app/AnalyserTour.h"
#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "app/storyboards/MainStoryboard.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSBundle.h"
#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIScreen.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/realtime/ZIRDatabaseComponent.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "sdk/installations/RARUruzariduzura.h"
#include "sdk/remote_config/ZIRRemoteConfigComponent.h"

int main(int argc, char** argv) {
  std::string error;
  auto options = parseLaunchOptions(argc, argv, &error);
  if (!options) {
    std::fprintf(stderr, "spectrum-analyser: %s\n", error.c_str());
    printLaunchUsage(stderr);
    return 2;
  }
  if (options->help) {
    printLaunchUsage(stdout);
    return 0;
  }

  // The SDK's components register before the application configures it at launch.
  ZIRLoggerInitialize();
  RARUruzariduzura::load();
  ZIRRemoteConfigComponent::load();
  ZIRExperimentController::load();
  ZIRDatabaseComponent::load();
  registerAppStoryboards();
  AppDelegate::registerClass();
  UIScreen::mainScreen().configure(options->screen, options->scale);

  // A window needs a display that shows it; without one the run tours the screen headless. The
  // display opened here stays open for the window (see SDLWindowHost::openDisplay).
  const bool wantWindow = !options->input && !options->headless;
  std::string noDisplay;
  const bool live = wantWindow && SDLWindowHost::openDisplay(&noDisplay);
  struct DisplayCloser {
    ~DisplayCloser() { SDLWindowHost::closeDisplay(); }
  } closeDisplayOnReturn;
  if (wantWindow && !live)
    std::fprintf(stderr, "spectrum-analyser: %s; analysing the demo input without a window\n", noDisplay.c_str());
  auto& session = AVAudioSession::sharedInstance();
  if (!live) {
    const std::string file =
        options->input ? *options->input : NSBundle::mainBundle().pathForResource("demo", "wav").value_or("");
    if (file.empty()) {
      std::fprintf(stderr, "spectrum-analyser: the demo input demo.wav is missing from the resources\n");
      return 1;
    }
    session.setInputSpec("file:" + file);
  }
  // An input that cannot work ends the run with one clear message; an audio server that does not
  // answer (yet) leaves the chart saying "No audio input" until it does. A server that answers at
  // once has listed its sources within this time, so that a source named wrong is refused with the
  // names it has; one that hangs delays the window by no more.
  constexpr double kServerListSeconds = 0.5;
  const AVAudioSession::InputCheck check = session.checkInput(kServerListSeconds);
  if (check.result == AVAudioSession::InputCheck::Unusable ||
      (!live && check.result != AVAudioSession::InputCheck::Ready)) {
    std::fprintf(stderr, "spectrum-analyser: cannot use the audio input: %s\n", check.problem.c_str());
    return 1;
  }
  if (check.result == AVAudioSession::InputCheck::Unavailable)
    std::fprintf(stderr, "spectrum-analyser: no audio input: %s; the chart picks the input up when the server answers\n",
                 check.problem.c_str());
  if (!live) {
    std::printf("analysing %s\n", session.inputSpec().substr(5).c_str());
    const std::string outDir = options->outDir;
    UIApplicationSetRunner([outDir](UIApplication& app) { return AnalyserTour::run(app, outDir); });
  }
  return UIApplicationMain(argc, argv, "", "AppDelegate");
}
