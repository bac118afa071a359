#pragma once
// Small things the input-profile code shares: localised texts, colours, the hash that names
// predefined profiles, the usage events of the profile screens and whole-decibel readouts.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/graphics/UIColor.h"

namespace tarn {

// The text of a key in the main bundle's default string table; the key itself where the table has
// no entry.
std::string localised(const std::string& key);

// A named colour of the asset catalogue; a missing one is a programming error
// (NSInternalInconsistencyException naming it).
UIColorRef namedColor(const std::string& name);
// 0xRRGGBB, opaque unless an alpha is given.
UIColorRef hexColor(uint32_t rgb, double alpha = 1);

// A 64-bit hash of a text that is the same in every run (FNV-1a over its UTF-8 bytes).
int64_t stableHash(const std::string& text);

// The profile screens' usage events go to the application's usage trace, which the application
// installs at launch; without one they go nowhere.
void setUsageEventRecorder(std::function<void(const std::string&)> recorder);
void recordUsageEvent(const std::string& name);

// A level in dB as a whole number for a readout: truncated toward zero; NaN and −∞ read as the
// chart's floor (−130), +∞ as 0, and anything beyond ±100000 is held there.
int wholeDecibels(double level);

}  // namespace tarn
