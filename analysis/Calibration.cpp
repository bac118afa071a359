#include "analysis/Calibration.h"

#include <cmath>

#include "platform/foundation/FileAddress.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSString.h"

namespace {

float numberAt(const Value& record, const char* key) {
  if (!record.is_object()) return 0.0f;
  auto it = record.find(key);
  if (it == record.end() || !it->is_number()) return 0.0f;
  return it->get<float>();
}

Value asList(Value values) { return values.is_array() ? std::move(values) : Value::array(); }

}  // namespace

Calibration::Calibration(Value values) : calibrations_(asList(std::move(values))) {}

void Calibration::setCalibrations(Value values) { calibrations_ = asList(std::move(values)); }

float Calibration::getCorrectionForFrequency(float) { return 0.0f; }

Value Calibration::parseCalibrationText(const std::string& text, std::string* error) {
  Value result = Value::array();
  for (const std::string& rawLine : ns::split(text, "\n")) {
    const std::vector<std::string> fields = ns::split(ns::replaceAll(rawLine, ",", "."), " ");
    if (fields.size() < 2) continue;
    if (result.size() == kMaxCalibrationPoints) {
      if (error) *error = "more than " + std::to_string(kMaxCalibrationPoints) + " calibration points";
      return Value::array();
    }
    Value record = Value::object();
    record["frequency"] = static_cast<double>(ns::floatValue(fields[0]));
    record["volume"] = static_cast<double>(ns::floatValue(fields[1]));
    if (fields.size() > 2) record["phase"] = static_cast<double>(ns::floatValue(fields[2]));
    result.push_back(std::move(record));
  }
  return result;
}

Value Calibration::parseCalibrationValues(const std::string& fileURL) {
  // An unreadable file still gives an empty list (no correction), but never silently: a
  // calibration that quietly corrects nothing reads as a measurement that is off.
  std::string error;
  const std::optional<std::string> path = ns::pathFromFileURL(fileURL, &error);
  std::string text;
  if (path && ns::readFileContents(*path, kMaxCalibrationFileBytes, &text, &error)) {
    Value values = parseCalibrationText(text, &error);
    if (error.empty()) return values;
  }
  NSLog("Calibration file \"%s\" cannot be read: %s; no calibration is applied", fileURL.c_str(), error.c_str());
  return Value::array();
}

LinearCalibration::LinearCalibration(Value values) : Calibration(std::move(values)) { extractPoints(); }

void LinearCalibration::setCalibrations(Value values) {
  Calibration::setCalibrations(std::move(values));
  frequencyCache_.clear();
  extractPoints();
}

void LinearCalibration::extractPoints() {
  frequencies_.clear();
  volumes_.clear();
  for (const Value& record : calibrations_) {
    frequencies_.push_back(numberAt(record, "frequency"));
    volumes_.push_back(numberAt(record, "volume"));
  }
}

float LinearCalibration::getCorrectionForFrequency(float f) {
  const size_t n = frequencies_.size();
  if (n < 2) return 0.0f;
  if (f < frequencies_.front() || f > frequencies_.back()) return 0.0f;
  if (auto hit = frequencyCache_.find(f); hit != frequencyCache_.end()) return hit->second;
  for (size_t i = 0; i + 1 < n; ++i) {
    const float fi = frequencies_[i];
    const float fNext = frequencies_[i + 1];
    if (fi == f) return volumes_[i];
    if (fNext == f) return volumes_[i + 1];
    if (fNext > f) {
      const float value = volumes_[i] + (f - fi) / (fNext - fi) * (volumes_[i + 1] - volumes_[i]);
      if (!std::isnan(value)) frequencyCache_.emplace(f, value);
      return value;
    }
  }
  return 0.0f;
}

CubicSplineCalibration::CubicSplineCalibration(Value values) : Calibration(std::move(values)) {
  calibrationsSpline_ = std::make_shared<ORVCubicSpline>(getCalibrationsPoints());
}

void CubicSplineCalibration::setCalibrations(Value values) {
  Calibration::setCalibrations(std::move(values));
  calibrationsSpline_ = std::make_shared<ORVCubicSpline>(getCalibrationsPoints());
}

std::vector<ORVCubicSpline::Point> CubicSplineCalibration::getCalibrationsPoints() const {
  std::vector<ORVCubicSpline::Point> points;
  points.reserve(calibrations_.size());
  for (const Value& record : calibrations_) {
    points.push_back({numberAt(record, "frequency"), numberAt(record, "volume")});
  }
  return points;
}

float CubicSplineCalibration::getCorrectionForFrequency(float frequency) {
  // Without points the spline would hand back the frequency itself as a correction.
  if (!calibrationsSpline_ || calibrationsSpline_->points().empty()) return 0.0f;
  return static_cast<float>(calibrationsSpline_->interpolate(static_cast<double>(frequency)));
}
