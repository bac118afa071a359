// What lies under a GL view, kept between frames, and a new present of the view composed straight
// over it (one pass per row, vectorised) where the view paints nothing but its image.
#include <cairo.h>

#include <cmath>
#include <cstring>

#include "platform/accelerate/VectorClones.h"
#include "platform/uikit/UICompositorSupport.h"

namespace uicompositor {

void copyBox(const CGBitmapContext& frame, const PixelRect& box, std::vector<uint32_t>& pixels, bool out) {
  auto* data = cairo_image_surface_get_data(frame.surface());
  const int stride = cairo_image_surface_get_stride(frame.surface());
  if (out) pixels.resize(static_cast<size_t>(box.width) * box.height);
  for (int y = 0; y < box.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(box.y + y) * stride) + box.x;
    uint32_t* kept = pixels.data() + static_cast<size_t>(y) * box.width;
    if (out) std::memcpy(kept, row, static_cast<size_t>(box.width) * 4);
    else std::memcpy(row, kept, static_cast<size_t>(box.width) * 4);
  }
}

namespace {

// Pixels of a GL image (RGBA bytes, or BGRA when Bgra; taken as premultiplied) over the pixels
// under them, as Cairo composes the image with its OVER operator: per channel, the image's value
// plus the one under it times the image's transparency (rounded as Cairo rounds), held at 255. Two
// channels at a time, each in 16 bits of a word (red and blue, alpha and green), where neither the
// product and its rounding nor the sum can reach into the next; a loop the compiler turns into
// vector code.
template <bool Bgra>
inline void overPixels(const uint8_t* __restrict rgba, const uint32_t* __restrict under, uint32_t* __restrict out,
                       int count) {
  constexpr uint32_t kLow = 0x00ff00ffu, kHalf = 0x00800080u, kCarry = 0x01000100u;
  for (int x = 0; x < count; ++x) {
    uint32_t s;  // A<<24 | B<<16 | G<<8 | R, or A<<24 | R<<16 | G<<8 | B when Bgra
    std::memcpy(&s, rgba + static_cast<size_t>(x) * 4, 4);
    if constexpr (!Bgra) s = (s & 0xff00ff00u) | ((s >> 16) & 0xffu) | ((s & 0xffu) << 16);
    const uint32_t d = under[x];  // A<<24 | R<<16 | G<<8 | B
    const uint32_t keep = 255u - (s >> 24);
    uint32_t rb = (d & kLow) * keep + kHalf;
    rb = ((rb + ((rb >> 8) & kLow)) >> 8) & kLow;
    uint32_t ag = ((d >> 8) & kLow) * keep + kHalf;
    ag = ((ag + ((ag >> 8) & kLow)) >> 8) & kLow;
    rb += s & kLow;
    ag += (s >> 8) & kLow;
    // A channel past 255 (bit 8 of its half set) is held at 255.
    uint32_t carry = rb & kCarry;
    rb = (rb | (carry - (carry >> 8))) & kLow;
    carry = ag & kCarry;
    ag = (ag | (carry - (carry >> 8))) & kLow;
    out[x] = rb | ag << 8;
  }
}

// One row of a GL image over the pixels under it, in one pass, instead of putting back what lies
// under the image, converting the image, then blending it. The charts' images are mostly empty:
// a run of pixels whose bytes are all 0 leaves what lies under it as it is (the blend gives
// exactly that), and is copied. Their filled areas are mostly opaque: a run whose every alpha is
// 255 hides what lies under it (the blend gives the image's own pixels), and a run of B, G, R, A
// pixels, Cairo's own order, is copied from the image.
template <bool Bgra>
inline __attribute__((always_inline)) void overRow(const uint8_t* __restrict rgba, const uint32_t* __restrict under,
                                                   uint32_t* __restrict out, int count) {
  constexpr int kRun = 32;
  int x = 0;
  for (; x + kRun <= count; x += kRun) {
    uint32_t any = 0, all = ~0u;
    for (int k = 0; k < kRun; ++k) {
      uint32_t v;
      std::memcpy(&v, rgba + static_cast<size_t>(x + k) * 4, 4);
      any |= v;
      all &= v;
    }
    if (any == 0) std::memcpy(out + x, under + x, kRun * 4);
    else if (Bgra && (all >> 24) == 0xffu) std::memcpy(out + x, rgba + static_cast<size_t>(x) * 4, kRun * 4);
    else overPixels<Bgra>(rgba + static_cast<size_t>(x) * 4, under + x, out + x, kRun);
  }
  overPixels<Bgra>(rgba + static_cast<size_t>(x) * 4, under + x, out + x, count - x);
}

// One body, compiled for each CPU the vector clones name, per byte order.
SA_VECTOR_CLONES void overRowRgba(const uint8_t* __restrict rgba, const uint32_t* __restrict under,
                                  uint32_t* __restrict out, int count) {
  overRow<false>(rgba, under, out, count);
}
SA_VECTOR_CLONES void overRowBgra(const uint8_t* __restrict bgra, const uint32_t* __restrict under,
                                  uint32_t* __restrict out, int count) {
  overRow<true>(bgra, under, out, count);
}

}  // namespace

// Where a GL view's presented image lands in the frame when it can be composed by overRow: the
// view paints nothing but the image (no shadow, background, contents or transparency), one image
// pixel per device pixel at a whole-pixel offset, inside the frame and its box, and no clipping
// view above it (a rounded or turned one) cuts into it. None otherwise.
std::optional<PixelRect> directImageRect(const ViewRecord& record, const UIView& view, const CAEAGLLayer& gl,
                                         const ViewRecords& records, const PixelRect& all) {
  const auto& p = gl.presentedAsRead();
  const auto& m = record.matrix;  // xx, yx, xy, yy, x0, y0
  if (p.width <= 0 || p.height <= 0 || p.rgba.size() < static_cast<size_t>(p.width) * p.height * 4) return std::nullopt;
  if (record.alpha != 1 || record.effectiveAlpha != 1 || record.parentAlpha != 1 || record.background ||
      record.contents || record.shadow != std::array<double, 10>{} || (record.clips && record.cornerRadius != 0))
    return std::nullopt;
  if (m[1] != 0 || m[2] != 0 || m[0] * record.bounds.size.width != p.width || m[3] * record.bounds.size.height != p.height)
    return std::nullopt;
  const double x = m[0] * record.bounds.origin.x + m[4], y = m[3] * record.bounds.origin.y + m[5];
  if (x != std::floor(x) || y != std::floor(y) || std::fabs(x) > 1e6 || std::fabs(y) > 1e6) return std::nullopt;
  const PixelRect image{static_cast<int>(x), static_cast<int>(y), p.width, p.height};
  if (intersect(image, all) != image || intersect(image, record.box) != image) return std::nullopt;
  for (auto up = view.superview(); up; up = up->superview()) {
    if (!up->clipsToBounds()) continue;
    auto it = records.find(up.get());
    if (it == records.end() || !covers(it->second, image)) return std::nullopt;
  }
  return image;
}

void composeOverUnderlay(const CGBitmapContext& frame, const Underlay& under, const CAEAGLLayer::Presented& p,
                         const PixelRect& image) {
  auto* data = cairo_image_surface_get_data(frame.surface());
  const int stride = cairo_image_surface_get_stride(frame.surface());
  const PixelRect& box = under.box;
  for (int y = 0; y < box.height; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(box.y + y) * stride) + box.x;
    const uint32_t* kept = under.pixels.data() + static_cast<size_t>(y) * box.width;
    const int iy = box.y + y - image.y;
    if (iy < 0 || iy >= image.height) {
      std::memcpy(out, kept, static_cast<size_t>(box.width) * 4);
      continue;
    }
    const int left = image.x - box.x, right = left + image.width;
    std::memcpy(out, kept, static_cast<size_t>(left) * 4);
    if (p.bgra) overRowBgra(p.row(iy), kept + left, out + left, image.width);
    else overRowRgba(p.row(iy), kept + left, out + left, image.width);
    std::memcpy(out + right, kept + right, static_cast<size_t>(box.width - right) * 4);
  }
}

}  // namespace uicompositor
