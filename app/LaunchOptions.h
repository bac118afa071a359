#pragma once
// The analyser's command line: --headless, --input FILE, --out DIR, --screen WxH[@S], --help.
// The audio input may also be named by SA_AUDIO_INPUT (read by the audio session).
#include <cstdio>
#include <optional>
#include <string>

#include "platform/graphics/CGGeometry.h"

struct LaunchOptions {
  bool headless = false;               // no window even with a display
  std::optional<std::string> input;    // an audio file played as the microphone (implies headless)
  std::string outDir = "out";          // where the headless run writes its screenshots
  CGSize screen{568, 320};             // the main screen in points, as held at launch
  double scale = 2;                    // pixels per point
  bool help = false;
};

// Parses the arguments after the program name; none with the reason in *error for an unknown or
// incomplete option or a screen size that is not "W x H" points from 200 to 4000 (scale 1 to 4).
std::optional<LaunchOptions> parseLaunchOptions(int argc, char** argv, std::string* error);
void printLaunchUsage(std::FILE* to);
