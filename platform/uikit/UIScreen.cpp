#include "platform/uikit/UIScreen.h"

#include <algorithm>
#include <cmath>

// A landscape phone of 568 × 320 points at two pixels per point, the analyser's reference device.
UIScreen::UIScreen() : bounds_(CGRectMake(0, 0, 568, 320)), scale_(2) {}

UIScreen& UIScreen::mainScreen() {
  static UIScreen screen;
  return screen;
}

CGRect UIScreen::nativeBounds() const {
  double w = bounds_.size.width * scale_, h = bounds_.size.height * scale_;
  return CGRectMake(0, 0, std::min(w, h), std::max(w, h));
}

void UIScreen::configure(CGSize pointSize, double scale) {
  double w = std::isfinite(pointSize.width) ? std::fabs(pointSize.width) : 0;
  double h = std::isfinite(pointSize.height) ? std::fabs(pointSize.height) : 0;
  bounds_ = CGRectMake(0, 0, w, h);
  scale_ = scale > 0 && std::isfinite(scale) ? scale : 1;
}
