#include "app/AnalyserSettings.h"

#include <optional>

#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIScreen.h"

namespace settings {

namespace {
std::optional<int32_t> launchDefault;
}

int32_t defaultFFTSizeForBounds(const CGRect& bounds) {
  if (bounds.size.height == 480) return 256;
  if (bounds.size.width == 568) return 512;
  return 2048;
}

std::vector<std::pair<std::string, Value>> launchDefaults(const CGRect& launchBounds) {
  const int64_t size = defaultFFTSizeForBounds(launchBounds);
  return {
      {kSpectrogramPalette, Value("lava")}, {kSpectrogramSpeed, Value("medium")}, {kSpectrogramFill, Value("half")},
      {kOctaveGraphType, Value("bars")},    {kOctaveFFTSize, Value(size)},        {kOctaveHoldPeaks, Value("Hold")},
      {kOctaveType, Value("octave3")},      {kFFTScale, Value("linear")},         {kFFTSize, Value(size)},
      {kFFTHoldPeaks, Value("Max")},        {kFFTGraphType, Value("line")},       {kFFTWindow, Value("Rectangle")},
      {kCurrentType, Value("octave")},      {kAimEnabled, Value(true)},
  };
}

bool isUsableFFTSize(int64_t size) {
  return size >= 256 && size <= 16384 && (size & (size - 1)) == 0;
}

int32_t launchDefaultFFTSize() {
  return launchDefault ? *launchDefault : defaultFFTSizeForBounds(UIScreen::mainScreen().bounds());
}

void setLaunchDefaultFFTSize(int32_t size) { launchDefault = size; }
void resetLaunchDefaultForTesting() { launchDefault.reset(); }

int32_t fftSizeInUse(const std::string& key) {
  const int64_t size = NSUserDefaults::standardUserDefaults()->integerForKey(key);
  return isUsableFFTSize(size) ? static_cast<int32_t>(size) : launchDefaultFFTSize();
}

std::string stored(const std::string& key) {
  return NSUserDefaults::standardUserDefaults()->stringForKey(key).value_or("");
}

void store(const std::string& key, const std::string& value) {
  const auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject(Value(value), key);
  defaults->synchronize();
}

}  // namespace settings
