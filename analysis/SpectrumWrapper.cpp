#include "analysis/SpectrumWrapper.h"

#include "analysis/vlxSpectrum.h"
#include "platform/foundation/NSObjCRuntime.h"

std::shared_ptr<vlxSpectrum> SpectrumWrapper::spectrumObject() {
  if (!NSClassFromString("vlxSpectrum")) return nullptr;
  return vlxSpectrum::sharedInstance();
}
