#include "platform/graphics/CALayer.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {
int toPixels(double points, double scale) {
  double px = std::round(std::fabs(points) * scale);
  if (!std::isfinite(px) || px < 0) return 0;
  return px > 16384 ? 16384 : static_cast<int>(px);  // GL renderbuffers are limited in size anyway
}
}  // namespace

int CAEAGLLayer::drawableWidth() const { return toPixels(bounds().size.width, contentsScale()); }
int CAEAGLLayer::drawableHeight() const { return toPixels(bounds().size.height, contentsScale()); }

void CAEAGLLayer::upright() const {
  Presented& p = presented_;
  if (!p.bottomFirst && !p.bgra) return;
  const size_t row = static_cast<size_t>(p.width) * 4;
  const bool whole = p.width > 0 && p.height > 0 && p.rgba.size() >= row * static_cast<size_t>(p.height);
  if (whole && p.bgra) {
    for (size_t i = 0; i < row * static_cast<size_t>(p.height); i += 4) std::swap(p.rgba[i], p.rgba[i + 2]);
  }
  p.bgra = false;
  if (!p.bottomFirst) return;
  p.bottomFirst = false;
  if (!whole || p.height <= 1) return;
  // Row pairs swapped through a buffer of one row.
  std::vector<uint8_t> spare(row);
  for (int y = 0; y < p.height / 2; ++y) {
    uint8_t* top = p.rgba.data() + static_cast<size_t>(y) * row;
    uint8_t* bottom = p.rgba.data() + static_cast<size_t>(p.height - 1 - y) * row;
    std::memcpy(spare.data(), top, row);
    std::memcpy(top, bottom, row);
    std::memcpy(bottom, spare.data(), row);
  }
}
