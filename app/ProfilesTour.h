#pragma once
// The headless run's visit of the input-profile screens, after the analyser's modes: it adds a
// demonstration profile for the input in use and enables it, opens the profile list from the
// current-input bar (profiles.png), opens the profile in the tuning screen with live levels
// (tuning.png), goes back, and shows the new-input popup for a USB microphone (new-input.png).
// The stored profiles and the usage trace are put back as they were. Main thread.
#include <string>

class UIApplication;
class ViewController;

struct ProfilesTour {
  // False when a screenshot could not be written or a screen did not come up.
  static bool run(UIApplication& application, ViewController& screen, const std::string& outDir);
};
