#pragma once
// The screen: bounds in points, scale (pixels per point), native bounds in pixels. A device
// profile (bounds and scale) may be chosen at start-up or by a test.
#include "platform/graphics/CGGeometry.h"

class UIScreen {
 public:
  static UIScreen& mainScreen();

  CGRect bounds() const { return bounds_; }
  double scale() const { return scale_; }
  CGRect nativeBounds() const;  // pixels, portrait
  // Sets the device profile. A scale that is not positive becomes 1; sizes are made non-negative.
  void configure(CGSize pointSize, double scale);

 private:
  UIScreen();
  CGRect bounds_;
  double scale_;
};
