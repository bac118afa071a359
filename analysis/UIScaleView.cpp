#include "analysis/UIScaleView.h"

#include <cmath>
#include <cstdio>

float UIScaleView::getStepWithStart(float start, float end, int32_t count) {
  const float range = end - start;
  if (!(range > 0) || !std::isfinite(range)) return 0.0f;
  if (count < 3) return range;
  const double x = static_cast<double>(range) / count;
  const double p = std::pow(10.0, std::floor(std::log10(x)));
  const double r = x / p;
  if (r <= 1) return static_cast<float>(p);
  if (r <= 2) return static_cast<float>(p * 2);
  return static_cast<float>(p * 5);
}

int32_t UIScaleView::getMinLogCoeff(int32_t count) {
  if (count >= 12) return 1;
  if (count >= 8) return 2;
  return 5;
}

std::string UIScaleView::formatLabel(float value) {
  char text[64];
  if (value >= 1000) {
    std::snprintf(text, sizeof text, "%.fk", static_cast<double>(value) / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.f", static_cast<double>(value));
  }
  return text;
}

std::vector<float> UIScaleView::logLabelFrequencies(int32_t count) {
  std::vector<float> result;
  const int first = getMinLogCoeff(count);
  for (double m = 1; m <= 22050; m *= 10) {
    int c = first;
    if (m * c == 1) c = 2;
    while (true) {
      const double f = m * c;
      if (f >= 30) result.push_back(static_cast<float>(f));
      if (c == 1) {
        c = 2;
      } else if (c == 2) {
        c = 5;
      } else {
        break;
      }
    }
  }
  return result;
}

std::vector<float> UIScaleView::linearLabelFrequencies(float step, int32_t count) {
  std::vector<float> result;
  if (!(step > 0) || !std::isfinite(step)) return result;
  const double f0 = count >= 3 ? step * std::ceil(30.0 / step) : 30.0;
  for (int k = 0; k < kMaxMarks; ++k) {
    const double f = f0 + static_cast<double>(step) * k;
    if (f > 22050) break;
    if (count >= 3 && f > 20000) break;
    result.push_back(static_cast<float>(f));
  }
  return result;
}

double UIScaleView::roundCoord(double value) { return std::round(value); }

double UIScaleView::keepInside(double start, double length, double extent) {
  if (start + length > extent) start = extent - length;
  return start < 0 ? 0 : start;
}
