// The analyser screen's readouts: the dB-A level, the peak, the readings at a touch or marker, and
// note names.
#include <cmath>
#include <limits>

#include "analysis/SAudioController.h"
#include "app/ViewController.h"
#include "platform/foundation/NSString.h"

namespace {

// The analysis floor: a level of minus infinity (an empty frame) or NaN reads as this.
constexpr double kLevelFloor = -128;
// Whole numbers shown in the labels stay far inside the integer range.
constexpr double kReadoutLimit = 1e6;

// A level as the readouts use it: finite, with -inf and NaN at the floor and +inf at 0 dB.
double readableLevel(double level) {
  if (std::isnan(level)) return kLevelFloor;
  if (std::isinf(level)) return level < 0 ? kLevelFloor : 0;
  return std::clamp(level, -kReadoutLimit, kReadoutLimit);
}

// A frequency as the readouts use it: finite and not negative (a non-finite one reads as 0).
double readableFrequency(double frequency) {
  if (!std::isfinite(frequency)) return 0;
  return std::clamp(frequency, 0.0, kReadoutLimit);
}

// The number under `key` of a value record; none when the record is not a dictionary with a number there.
std::optional<double> number(const Value& record, const char* key) {
  if (!record.is_object()) return std::nullopt;
  auto it = record.find(key);
  if (it == record.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

constexpr const char* kNoLevel = "--";

// The touch readout for a whole frequency and, when there is one, a whole level.
std::string readingText(std::optional<int> frequency, std::optional<int> level) {
  const std::string hz = frequency ? std::to_string(*frequency) : kNoLevel;
  const std::string db = level ? std::to_string(*level) : kNoLevel;
  return hz + " Hz, " + db + " dB";
}

}  // namespace

int ViewController::dbaReadout(float level, int recorderPower) {
  const int a = static_cast<int>(readableLevel(level));  // truncated toward zero
  const int b = static_cast<int>((a + 107) * 0.0625);     // also toward zero: -13 × 0.0625 gives 0
  const int p = static_cast<int>(std::clamp<long>(recorderPower, -1000000, 1000000));
  const int c = (p - a + 53) / 7;
  return a + b + c + 110;
}

void ViewController::dbaValue(float value) {
  int power = 0;
  if (auto controller = spectrumView->audioController()) power = controller->getRecorderPeakPowerForChannel();
  lblFloatingRight->setText(ns::format("%d dB-A", dbaReadout(value, power)));
}

void ViewController::maximusArray(const std::vector<Value>& maximus, const std::vector<Value>&, const std::vector<Value>&) {
  if (maximus.empty()) return;
  auto f = number(maximus.front(), "frequency"), v = number(maximus.front(), "volume");
  if (!f || !v) {
    // A record that cannot be read as a peak.
    lblFloatingLeft->setText("Peak: 0");
    return;
  }
  lblFloatingLeft->setText(ns::format("Peak: %04.fHz, %.f dB", readableFrequency(*f), readableLevel(*v)));
}

// "%d Hz, %d dB" with the record's whole (truncated) frequency and level; nothing without both. While
// the chart has no current level the place touched is named with no level.
void ViewController::showReading(const Value& record) {
  auto f = number(record, "frequency"), v = number(record, "volume");
  if (!f || !v) return;
  readingFrequency_ = static_cast<int>(readableFrequency(*f));
  const bool measured = spectrumView->hasCurrentLevels();
  lblCurrentReadings->setText(
      readingText(readingFrequency_, measured ? std::optional<int>(static_cast<int>(readableLevel(*v))) : std::nullopt));
}

void ViewController::onTouch(const std::vector<Value>& values) {
  lblCurrentReadings->setHidden(false);
  spectrumView->setNeedPeakMarker(false);
  btnAim->setSelected(false);
  if (values.empty()) return;
  showReading(values.front());
  if (!spectrumView->hasCurrentLevels()) showHeldLevelsUnavailable();
}

void ViewController::onRemoveMarker() {
  lblCurrentReadings->setHidden(true);
  lblMaxMin->setHidden(true);
}

void ViewController::levelsUnavailable() {
  lblFloatingRight->setText(kNoLevelReadout);
  lblFloatingLeft->setText(kNoPeakReadout);
  if (lblCurrentReadings->isHidden()) return;
  lblCurrentReadings->setText(readingText(readingFrequency_, std::nullopt));
  showHeldLevelsUnavailable();
}

void ViewController::showHeldLevelsUnavailable() {
  if (lblMaxMin->isHidden()) return;
  auto plot = spectrumView->spectrumView();
  const bool minimum = plot && plot->isHoldMinimum();
  lblMaxMin->setText(minimum ? "Min: -- dB, Max: -- dB" : "Max: -- dB");
}

void ViewController::selectedValues(const std::optional<std::vector<Value>>& valuesIn) {
  if (lblCurrentReadings->isHidden()) return;
  static const std::vector<Value> none;
  const std::vector<Value>& values = valuesIn ? *valuesIn : none;
  if (!values.empty()) showReading(values.front());
  if (values.size() < 2) {
    lblMaxMin->setHidden(true);
    return;
  }
  auto maxLevel = number(values[1], "volume");
  if (!maxLevel) return;
  const int max = static_cast<int>(readableLevel(*maxLevel));
  if (values.size() >= 3) {
    auto minLevel = number(values[2], "volume");
    if (!minLevel) return;
    lblMaxMin->setText(ns::format("Min: %d dB, Max: %d dB", static_cast<int>(readableLevel(*minLevel)), max));
  } else {
    lblMaxMin->setText(ns::format("Max: %d dB", max));
  }
  lblMaxMin->setHidden(false);
}

void ViewController::currentLeftPaddingChanged(float padding) {
  if (lcVolumeBackground && std::isfinite(padding)) lcVolumeBackground->setConstant(padding - 11);
}

std::string ViewController::frequencyToNote(float f) {
  static const char* const kSteps[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  // Zero, negative, subnormal and non-finite frequencies name no note (the downward search would
  // never end for the first ones).
  if (!std::isfinite(f) || !(f >= std::numeric_limits<float>::min())) return "";
  const float semitone = 1.0594631f;
  const float cent = 1.0005778f;
  int index = 0;
  if (f >= 440.0f) {
    int n = -1;
    float x = 440.0f, lower = 440.0f;
    do {
      lower = x;
      x = x * semitone;
      n = n + 1;
    } while (x <= f);  // x grows to infinity at most, which ends the loop
    int k = -1;
    float y = lower, y0 = lower, y1 = lower;
    do {
      y0 = y;
      y = y * cent;
      k = k + 1;
      y1 = y0 * cent;
    } while (y1 < f);
    const int cents = (y1 - f < f - y0) ? k + 1 : k;
    index = 57 + n + (cents >= 51 ? 1 : 0);
  } else {
    int m = 1;
    float x = 440.0f, upper = 440.0f;
    do {
      upper = x;
      x = x / semitone;
      m = m - 1;
    } while (x >= f);  // x falls to zero at most, below any normal f
    int k = -1;
    float y = upper, y0 = upper, y1 = upper;
    do {
      y0 = y;
      y = y / cent;
      k = k + 1;
      y1 = y0 / cent;
    } while (y1 > f);
    const int cents = (f - y1 < y0 - f) ? k + 1 : k;
    index = 57 + m - (cents >= 50 ? 1 : 0);
  }
  if (index < 0 || index > 119) return "";
  return std::string(kSteps[index % 12]) + std::to_string(index / 12);
}
