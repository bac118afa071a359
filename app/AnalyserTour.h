#pragma once
// The headless run: shows the analyser screen in each mode for a few seconds of audio, writes a
// screenshot of the whole screen per mode (analyser-fft.png, analyser-octave.png,
// analyser-sonogram.png) and prints the readouts the screen shows; then opens the side menu
// (side-menu.png) and the help page through it (help.png), and visits the input-profile screens
// (profiles.png, tuning.png, new-input.png: ProfilesTour.h). The user's saved settings are
// put back as they were before the tour. Runs on the main thread after launch.
#include <string>

class UIApplication;

struct AnalyserTour {
  // Returns the process status: 0 when every screenshot was written and audio was analysed.
  static int run(UIApplication& application, const std::string& outDir);
};
