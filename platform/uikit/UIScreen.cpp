#include "platform/uikit/UIScreen.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/NSStringDrawing.h"

// A landscape phone of 568 × 320 points at two pixels per point, the analyser's reference device.
// Text measured with no context or view at hand is measured at the screen's scale, the one views
// draw at unless they say otherwise.
UIScreen::UIScreen() : size_{568, 320}, scale_(2), landscape_(true) { NSStringSetDefaultMeasuringScale(scale_); }

UIScreen& UIScreen::mainScreen() {
  static UIScreen screen;
  return screen;
}

CGRect UIScreen::bounds() const {
  double longSide = std::max(size_.width, size_.height), shortSide = std::min(size_.width, size_.height);
  // A square screen, or one held as configured, keeps the size as written.
  if ((size_.width > size_.height) == landscape_ || size_.width == size_.height) {
    return CGRectMake(0, 0, size_.width, size_.height);
  }
  return landscape_ ? CGRectMake(0, 0, longSide, shortSide) : CGRectMake(0, 0, shortSide, longSide);
}

CGRect UIScreen::nativeBounds() const {
  double w = size_.width * scale_, h = size_.height * scale_;
  return CGRectMake(0, 0, std::min(w, h), std::max(w, h));
}

void UIScreen::configure(CGSize pointSize, double scale) {
  double w = std::isfinite(pointSize.width) ? std::fabs(pointSize.width) : 0;
  double h = std::isfinite(pointSize.height) ? std::fabs(pointSize.height) : 0;
  size_ = {w, h};
  scale_ = scale > 0 && std::isfinite(scale) ? scale : 1;
  landscape_ = w > h;
  NSStringSetDefaultMeasuringScale(scale_);
}
