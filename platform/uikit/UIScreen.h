#pragma once
// The screen: bounds in points in the current interface orientation, scale (pixels per point),
// native bounds in pixels (portrait). The device profile (size as written, in the orientation it
// is held at launch, and scale) is chosen at start-up or by a test; turning the interface between
// portrait and landscape (UIDevice's orientation) swaps the width and height of the bounds.
#include "platform/graphics/CGGeometry.h"

class UIScreen {
 public:
  static UIScreen& mainScreen();

  CGRect bounds() const;
  double scale() const { return scale_; }
  CGRect nativeBounds() const;  // pixels, portrait
  // Sets the device profile: its size in points as held at launch and its scale. A scale that is
  // not positive becomes 1; sizes are made non-negative. The interface orientation becomes the
  // one of the size (landscape when wider than high). The scale becomes the one text is measured
  // at where no context or view says otherwise (NSStringSetDefaultMeasuringScale).
  void configure(CGSize pointSize, double scale);
  // Whether the interface is in landscape; set by UIDevice when the orientation changes.
  bool isLandscape() const { return landscape_; }
  void setInterfaceLandscape(bool landscape) { landscape_ = landscape; }

 private:
  UIScreen();
  CGSize size_;  // as configured
  double scale_;
  bool landscape_;
};
