#pragma once
// Calibration curves: for every bin frequency the chart asks its calibration for a correction in dB
// and adds it to the level. The base class corrects nothing; LinearCalibration and
// CubicSplineCalibration interpolate between calibration points.
//
// Calibration values are a Value array of records {"frequency": Hz, "volume": dB, "phase": optional},
// in ascending order of frequency; numbers are read with their single-precision value and missing
// keys read as 0.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/ORVCubicSpline.h"
#include "platform/foundation/Value.h"

class Calibration {
 public:
  Calibration() : calibrations_(Value::array()) {}
  // initWithValues:
  explicit Calibration(Value values);
  virtual ~Calibration() = default;

  const Value& calibrations() const { return calibrations_; }
  virtual void setCalibrations(Value values);

  // Correction in dB at a frequency in Hz; 0 for the base class.
  virtual float getCorrectionForFrequency(float frequency);

  // Limits of what a calibration file may hold: a measurement microphone's table has some hundreds
  // of points, so anything near these is not a calibration file.
  static constexpr size_t kMaxCalibrationFileBytes = size_t(1) << 20;
  static constexpr size_t kMaxCalibrationPoints = 20000;

  // Reads a calibration text file (one "frequency volume [phase]" line per point, a point or a
  // comma as decimal separator). A path or a file URL (percent escapes decoded, "file://localhost/"
  // accepted). A file that cannot be read, or is larger than the limits above, gives an empty list
  // and a log line that says why.
  static Value parseCalibrationValues(const std::string& fileURL);
  // More than kMaxCalibrationPoints points give an empty list, with *error set.
  static Value parseCalibrationText(const std::string& text, std::string* error = nullptr);

 protected:
  Value calibrations_;
};

using CalibrationRef = std::shared_ptr<Calibration>;

// Straight lines between neighbouring points; 0 outside the table and with fewer than two points.
class LinearCalibration : public Calibration {
 public:
  LinearCalibration() = default;
  explicit LinearCalibration(Value values);

  // New points also clear the cache of corrections computed from the old ones.
  void setCalibrations(Value values) override;
  float getCorrectionForFrequency(float frequency) override;

  size_t cacheSize() const { return frequencyCache_.size(); }

 private:
  void extractPoints();

  std::vector<float> frequencies_;
  std::vector<float> volumes_;
  // Interpolated corrections by frequency; the chart asks for the same bin frequencies every frame.
  std::unordered_map<float, float> frequencyCache_;
};

// A natural cubic spline through the points (sorted, equal frequencies merged); with no points it
// corrects by 0.
class CubicSplineCalibration : public Calibration {
 public:
  CubicSplineCalibration() : CubicSplineCalibration(Value::array()) {}
  explicit CubicSplineCalibration(Value values);

  void setCalibrations(Value values) override;
  float getCorrectionForFrequency(float frequency) override;

  // One point per record in list order: x "frequency", y "volume".
  std::vector<ORVCubicSpline::Point> getCalibrationsPoints() const;

  const std::shared_ptr<ORVCubicSpline>& calibrationsSpline() const { return calibrationsSpline_; }
  void setCalibrationsSpline(std::shared_ptr<ORVCubicSpline> spline) { calibrationsSpline_ = std::move(spline); }

 private:
  std::shared_ptr<ORVCubicSpline> calibrationsSpline_;
};
