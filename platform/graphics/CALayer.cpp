#include "platform/graphics/CALayer.h"

#include <cmath>

namespace {
int toPixels(double points, double scale) {
  double px = std::round(std::fabs(points) * scale);
  if (!std::isfinite(px) || px < 0) return 0;
  return px > 16384 ? 16384 : static_cast<int>(px);  // GL renderbuffers are limited in size anyway
}
}  // namespace

int CAEAGLLayer::drawableWidth() const { return toPixels(bounds().size.width, contentsScale()); }
int CAEAGLLayer::drawableHeight() const { return toPixels(bounds().size.height, contentsScale()); }
