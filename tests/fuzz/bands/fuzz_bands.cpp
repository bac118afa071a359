// A band table from outside the program into octave bands, and a frame mapped through it on every
// band scale: band means, the ten full-octave levels, display points and the pixel queries.
#include <span>
#include <vector>

#include "analysis/BandMapping.h"
#include "analysis/Octave.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
std::vector<Octave> gTable;
std::vector<Octave> loadTable(const std::string&) { return gTable; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  gTable = Octave::parseOctavesText(std::string(fuzzsupport::asText(data, size)));
  std::vector<float> levels(256);
  for (size_t i = 0; i < levels.size(); ++i) levels[i] = -100.0f + float(i % 40);
  BandMapping mapping(&loadTable);
  mapping.setBackingSize(300, 150);
  mapping.setAreaParams(AreaParams{-130, -10});
  std::vector<float> series;
  std::vector<DisplayPoint> points;
  std::array<float, BandMapping::kFullOctaveCount> octaves{};
  for (int32_t scale = 2; scale <= 4; ++scale) {
    mapping.setScaleType(scale);
    mapping.processData(levels, series);
    (void)mapping.fullOctaveOutput(levels, octaves);
    mapping.vertexArrayFromData(series, 2, points);
    mapping.splineVertexArrayFromData(series, points);
    for (float x : {-5.0f, 0.0f, 1.0f, 77.5f, 150.0f, 299.0f, 1e6f}) {
      (void)mapping.getValueByX(x, series);
      (void)mapping.getValueMaximumByX(x, series, series.size());
      (void)mapping.getFreqMaximumForX(x, series.size());
      mapping.setMarkerAt(x, points);
    }
  }
  return 0;
}
