#pragma once
// One band of an octave-band table, and the reader of the tables shipped as bundle resources
// ("1" full octaves, "1_3" third octaves, "1_6" sixth octaves; type "txt").
#include <cstddef>
#include <string>
#include <vector>

class Octave {
 public:
  Octave() = default;
  // initFithLow:Mid:High:
  Octave(float low, float mid, float high) : lowFreq_(low), midFreq_(mid), highFreq_(high) {}

  float lowFreq() const { return lowFreq_; }
  float midFreq() const { return midFreq_; }
  float highFreq() const { return highFreq_; }
  void setLowFreq(float value) { lowFreq_ = value; }
  void setMidFreq(float value) { midFreq_ = value; }
  void setHighFreq(float value) { highFreq_ = value; }

  // The bands of the main bundle's resource `name`.txt in file order; empty when the resource is
  // missing or unreadable. Every call reads the file again.
  static std::vector<Octave> parseOctavesResources(const std::string& name);
  // A band table has tens of lines; a larger file is not one.
  static constexpr size_t kMaxTableFileBytes = 64 * 1024;

  // The bands of a table file; empty (and a log line that says why) when it cannot be read.
  static std::vector<Octave> parseOctavesFile(const std::string& path);
  // One band per line "low mid high"; a line with fewer than three fields (an empty last line
  // included) is skipped rather than read past its end.
  static std::vector<Octave> parseOctavesText(const std::string& text);

 private:
  float lowFreq_ = 0.0f;
  float midFreq_ = 0.0f;
  float highFreq_ = 0.0f;
};
