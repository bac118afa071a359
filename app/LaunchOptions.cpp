#include "app/LaunchOptions.h"

#include <cstdlib>

namespace {
// "W x H" or "WxH@S" with whole points; false when it is not one.
bool parseScreen(const std::string& text, CGSize* size, double* scale) {
  int w = 0, h = 0, s = 2, consumed = 0;
  int fields = std::sscanf(text.c_str(), "%dx%d%n", &w, &h, &consumed);
  if (fields != 2) return false;
  std::string rest = text.substr(static_cast<size_t>(consumed));
  if (!rest.empty()) {
    int more = 0;
    if (std::sscanf(rest.c_str(), "@%d%n", &s, &more) != 1 || static_cast<size_t>(more) != rest.size()) return false;
  }
  if (w < 200 || h < 200 || w > 4000 || h > 4000 || s < 1 || s > 4) return false;
  *size = CGSizeMake(w, h);
  *scale = s;
  return true;
}
}  // namespace

std::optional<LaunchOptions> parseLaunchOptions(int argc, char** argv, std::string* error) {
  LaunchOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 < argc) return std::string(argv[++i]);
      return std::nullopt;
    };
    if (arg == "--input") {
      options.input = value();
      if (!options.input) {
        if (error) *error = "--input needs a file";
        return std::nullopt;
      }
    } else if (arg == "--out") {
      auto dir = value();
      if (!dir || dir->empty()) {
        if (error) *error = "--out needs a folder";
        return std::nullopt;
      }
      options.outDir = *dir;
    } else if (arg == "--screen") {
      auto text = value();
      if (!text || !parseScreen(*text, &options.screen, &options.scale)) {
        if (error) *error = "--screen needs WxH in points from 200 to 4000, optionally @SCALE (1 to 4), e.g. 568x320";
        return std::nullopt;
      }
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else {
      if (error) *error = "unknown option \"" + arg + "\"";
      return std::nullopt;
    }
  }
  return options;
}

void printLaunchUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: spectrum-analyser [--headless] [--input FILE] [--out DIR] [--screen WxH[@S]]\n"
               "  --headless      do not open a window even when a display exists\n"
               "  --input FILE    analyse FILE (played in real time as the microphone); headless\n"
               "  --out DIR       folder of the headless screenshots (default: out)\n"
               "  --screen WxH    the phone screen in points as held at launch (default 568x320;\n"
               "                  480x320 landscape, 320x480 portrait), @S for the scale (default 2)\n"
               "SA_AUDIO_INPUT=pulse|pulse:SOURCE|file:PATH|test chooses the audio input.\n");
}
