#pragma once
// The analyser's settings in the standard user defaults: the keys, the values written at launch
// when a key is absent, and the FFT sizes the chart can use.
//
// Strings are compared exactly wherever they are read. The two FFT sizes are integer numbers; a
// stored size is used only when it is a power of two from 256 to 16,384 (a numeric string counts
// by its number, as the defaults' integer read gives it). Any other stored value leaves the
// chart on the launch default for the screen, and stays stored until the user picks a size.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/graphics/CGGeometry.h"

namespace settings {

inline constexpr const char* kCurrentType = "CURRENT_TYPE";
inline constexpr const char* kFFTWindow = "FFT_WINDOW";
inline constexpr const char* kFFTSize = "FFT_FFT_SIZE";
inline constexpr const char* kFFTScale = "FFT_SCALE";
inline constexpr const char* kFFTHoldPeaks = "FFT_HOLD_PEAKS";
inline constexpr const char* kFFTGraphType = "FFT_GRAPH_TYPE";
inline constexpr const char* kOctaveType = "OCTAVE_TYPE";
inline constexpr const char* kOctaveFFTSize = "OCTAVE_FFT_SIZE";
inline constexpr const char* kOctaveGraphType = "OCTAVE_GRAPH_TYPE";
inline constexpr const char* kOctaveHoldPeaks = "OCTAVE_HOLD_PEAKS";
inline constexpr const char* kSpectrogramPalette = "SPECTROGRAM_PALETTE";
inline constexpr const char* kSpectrogramSpeed = "SPECTROGRAM_SPEED";
inline constexpr const char* kSpectrogramFill = "SPECTROGRAM_FILL";
inline constexpr const char* kAimEnabled = "AIM_ENABLED";

// The default FFT size for the screen's bounds at launch: 256 when 480 points high, else 512 when
// 568 points wide, else 2048 (exact comparisons).
int32_t defaultFFTSizeForBounds(const CGRect& bounds);

// Every key with its launch default, in the order launch writes them.
std::vector<std::pair<std::string, Value>> launchDefaults(const CGRect& launchBounds);

// Whether a stored size can be used: a power of two from 256 to 16,384.
bool isUsableFFTSize(int64_t size);

// The launch default remembered for this process (set at launch from the bounds before the
// interface turns); without a launch, the rule applied to the main screen's bounds now.
int32_t launchDefaultFFTSize();
void setLaunchDefaultFFTSize(int32_t size);
void resetLaunchDefaultForTesting();

// The size the chart uses for the key: the stored one when usable, else the launch default.
int32_t fftSizeInUse(const std::string& key);

// A stored string setting; a value of another type reads as its text (numbers) or as nothing.
std::string stored(const std::string& key);
// Stores a string setting and writes the defaults out at once.
void store(const std::string& key, const std::string& value);

}  // namespace settings
