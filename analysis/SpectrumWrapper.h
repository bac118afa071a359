#pragma once
// The bridge through which code without a chart of its own reaches the shared chart: the class
// registered under the name "vlxSpectrum" is looked up by name and asked for its shared instance.
#include <memory>

class vlxSpectrum;

struct SpectrumWrapper {
  // The shared chart, made on first use; none when no class of that name is registered.
  static std::shared_ptr<vlxSpectrum> spectrumObject();
};
