// Calibration text from outside the program (a measurement microphone's file) into calibration
// values, and both calibrations built from them asked for the correction at every bin of a frame;
// the same bytes also as a file address.
#include <cmath>

#include "analysis/Calibration.h"
#include "analysis/FrequencyWeighting.h"
#include "platform/foundation/FileAddress.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(fuzzsupport::asText(data, size));
  std::string error;
  const Value values = Calibration::parseCalibrationText(text, &error);
  if (!values.is_array() || (!error.empty() && !values.empty())) __builtin_trap();
  LinearCalibration linear(values);
  CubicSplineCalibration spline(values);
  constexpr size_t kBins = 64;
  for (size_t i = 0; i < kBins; ++i) {
    const float f = FrequencyWeighting::binFrequency(i, kBins);
    (void)linear.getCorrectionForFrequency(f);
    (void)spline.getCorrectionForFrequency(f);
  }
  (void)ns::pathFromFileURL(text);
  return 0;
}
