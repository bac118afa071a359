#include "platform/graphics/UIColor.h"

#include <algorithm>
#include <cmath>

namespace {
// Components outside 0..1 (or not numbers) are brought into range so every drawing call gets a
// defined colour.
double clampComponent(double v) {
  if (std::isnan(v)) return 0;
  return std::clamp(v, 0.0, 1.0);
}
}  // namespace

UIColor::UIColor(double red, double green, double blue, double alpha)
    : red_(clampComponent(red)), green_(clampComponent(green)), blue_(clampComponent(blue)),
      alpha_(clampComponent(alpha)) {}

UIColorRef UIColor::colorWithRed(double red, double green, double blue, double alpha) {
  return std::make_shared<const UIColor>(red, green, blue, alpha);
}
UIColorRef UIColor::colorWithWhite(double white, double alpha) { return colorWithRed(white, white, white, alpha); }
UIColorRef UIColor::whiteColor() { return colorWithRed(1, 1, 1, 1); }
UIColorRef UIColor::blackColor() { return colorWithRed(0, 0, 0, 1); }
UIColorRef UIColor::clearColor() { return colorWithRed(0, 0, 0, 0); }
UIColorRef UIColor::redColor() { return colorWithRed(1, 0, 0, 1); }
UIColorRef UIColor::greenColor() { return colorWithRed(0, 1, 0, 1); }
UIColorRef UIColor::blueColor() { return colorWithRed(0, 0, 1, 1); }

bool UIColor::getRed(double* red, double* green, double* blue, double* alpha) const {
  if (red) *red = red_;
  if (green) *green = green_;
  if (blue) *blue = blue_;
  if (alpha) *alpha = alpha_;
  return true;
}
