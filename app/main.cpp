// The analyser's entry point. With a desktop display and an audio server it opens the analyser
// screen in a window on the live microphone; otherwise (or with --headless or --input FILE) it
// plays an audio file as if it were the microphone, tours the three modes, writes a screenshot of
// each to out/, prints the readouts and exits.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/AnalyserTour.h"
#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "app/storyboards/MainStoryboard.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioInput.h"
#include "platform/foundation/NSBundle.h"
#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIScreen.h"
#include "sdk/core/ZIRLogger.h"
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
  registerAppStoryboards();
  AppDelegate::registerClass();
  UIScreen::mainScreen().configure(options->screen, options->scale);

  std::string serverError;
  const bool live = !options->input && !options->headless && SDLWindowHost::displayAvailable() &&
                    pulse::ensureConnected(&serverError);
  if (!live) {
    std::string file = options->input ? *options->input : NSBundle::mainBundle().pathForResource("demo", "wav").value_or("");
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec)) {
      std::fprintf(stderr, "spectrum-analyser: audio file \"%s\" not found\n",
                   file.empty() ? "demo.wav (resources)" : file.c_str());
      return 1;
    }
    auto& session = AVAudioSession::sharedInstance();
    session.setInputSpec("file:" + file);
    OSStatus status = 0;
    if (!session.inputBackend(&status)) {
      std::fprintf(stderr, "spectrum-analyser: \"%s\" cannot be played as audio input (status %d)\n", file.c_str(),
                   static_cast<int>(status));
      return 1;
    }
    std::printf("analysing %s\n", file.c_str());
    const std::string outDir = options->outDir;
    UIApplicationSetRunner([outDir](UIApplication& app) { return AnalyserTour::run(app, outDir); });
  }
  return UIApplicationMain(argc, argv, "", "AppDelegate");
}
