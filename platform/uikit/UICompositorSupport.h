#pragma once
// The parts of UICompositor, shared by its files: UICompositor.cpp (frames and the repaint),
// UICompositor+Painting.cpp (painting a view tree with Cairo), UICompositor+Damage.cpp (what each
// view paints and where, and the rectangles a frame repaints) and UICompositor+Underlay.cpp (what
// lies under a GL view, and its image composed straight over it). Only those files include it.
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/graphics/UIImage.h"
#include "platform/uikit/UICompositor.h"

namespace uicompositor {

using PixelRect = UICompositor::PixelRect;

// A GL layer's presented pixels converted for Cairo, kept while the layer presents nothing new.
struct GLImage {
  std::weak_ptr<CALayer> layer;
  uint64_t count = 0;
  cairo_surface_t* surface = nullptr;
  bool used = false;
};

using GLImages = std::map<const CAEAGLLayer*, GLImage>;

// Which views of a walk paint themselves: those whose place in the painting order (the order of
// the walk, the hidden ones left out) lies in [from, to). Views outside still apply their clipping
// to the ones inside. Splitting a walk so is exact only where no view outside the range with
// alpha below 1 has views inside it (its group would be split).
struct PaintRange {
  size_t next = 0;
  size_t from = 0, to = SIZE_MAX;
};

// What decides how a view is painted, and where: two frames whose records of a view are equal
// paint the view's pixels alike (its content aside, which the display pass and GL presents tell).
struct ViewRecord {
  std::weak_ptr<const UIView> view;
  PixelRect box;  // device pixels the view (and its shadow) may touch, clipped
  std::array<double, 6> matrix{};
  CGRect bounds{};
  double alpha = 1, effectiveAlpha = 1;
  double parentAlpha = 1;  // the alpha of everything above it in the tree, multiplied
  std::optional<std::array<double, 4>> background;
  std::shared_ptr<const UIImage> contents;  // held, so that a new image never takes its address
  uint64_t presents = 0;                    // GL layers: how many presents
  bool gl = false;
  bool marked = false;                      // marked for display this frame
  double cornerRadius = 0;
  bool clips = false;
  std::array<double, 10> shadow{};
  size_t order = 0;

  bool samePaint(const ViewRecord& o) const {
    return box == o.box && matrix == o.matrix && bounds == o.bounds && alpha == o.alpha &&
           effectiveAlpha == o.effectiveAlpha && background == o.background && contents == o.contents &&
           presents == o.presents && gl == o.gl && cornerRadius == o.cornerRadius && clips == o.clips &&
           shadow == o.shadow && order == o.order;
  }
};

using ViewRecords = std::map<const UIView*, ViewRecord>;

// What lies under a GL view: the frame's pixels in the view's box as the views before it in the
// painting order left them. While nothing under the box changes, a new present of the view is
// shown by putting these back and painting the view and what lies over it, instead of painting
// every layer of the box again.
struct Underlay {
  const UIView* view = nullptr;
  std::weak_ptr<const UIView> owner;
  PixelRect box;
  size_t order = 0;
  std::vector<uint32_t> pixels;
  bool valid = false;
};

inline PixelRect intersect(const PixelRect& a, const PixelRect& b) {
  int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

inline PixelRect unite(const PixelRect& a, const PixelRect& b) {
  if (a.width <= 0 || a.height <= 0) return b;
  if (b.width <= 0 || b.height <= 0) return a;
  int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

// ---- Painting (UICompositor+Painting.cpp)

// The display pass; the views that were marked for display go into *marked.
void displayTree(const UIViewRef& view, std::set<const UIView*>* marked = nullptr);
// Paints the view in its own bounds coordinates (the caller has set up the matrix), at the size
// it shows now (an animated size is shown stretched to the in-between size). With `glImages`, GL
// layers' images are converted once per present and kept there; with `range`, only the views of
// the range paint themselves.
void paintView(cairo_t* cr, const UIView& view, double alpha, GLImages* glImages, PaintRange* range = nullptr);
// Converted GL images of layers that were not painted (gone, hidden) are let go.
void releaseUnusedGLImages(GLImages& images);

// ---- Records and damage (UICompositor+Damage.cpp)

// The records of every painted view, walking the tree as paintView does.
void collect(const UIViewRef& view, cairo_matrix_t m, double alpha, double effective, const PixelRect& clip,
             const std::set<const UIView*>& marked, ViewRecords& out, double parentAlpha = 1);
// The rectangles a frame repaints, from this frame's records against the last frame's: a view
// painted differently, or no longer painted, damages where it was and where it is. A GL view that
// only presented anew, over an underlay still valid, is set apart in *presentedOverUnderlay unless
// something else is repainted under it.
std::vector<PixelRect> damagedRects(const ViewRecords& now, const ViewRecords& previous, const Underlay& under,
                                    const PixelRect& all, std::optional<PixelRect>* presentedOverUnderlay);
// The GL view whose underlay a repaint keeps: the largest one it repaints whole.
const ViewRecord* underlayToKeep(const ViewRecords& now, const std::vector<PixelRect>& rects, const PixelRect& all);
// Whether every pixel of the frame comes out opaque (see UICompositor+Damage.cpp).
bool paintsOpaque(const ViewRecords& records, const PixelRect& all);
// Whether one of the rectangles holds all of `box`; whether one meets it.
bool covers(const std::vector<PixelRect>& rects, const PixelRect& box);
bool overlaps(const std::vector<PixelRect>& rects, const PixelRect& box);
// Whether a view's rectangle, as painted (axis-aligned, not rounded), covers all of `rect`.
bool covers(const ViewRecord& r, const PixelRect& rect);

// ---- The underlay (UICompositor+Underlay.cpp)

// The frame's pixels in `box` into `pixels` (out), or back from them into the frame.
void copyBox(const CGBitmapContext& frame, const PixelRect& box, std::vector<uint32_t>& pixels, bool out);
// Where a GL view's presented image lands in the frame when it can be composed straight over its
// underlay; none otherwise.
std::optional<PixelRect> directImageRect(const ViewRecord& record, const UIView& view, const CAEAGLLayer& gl,
                                         const ViewRecords& records, const PixelRect& all);
// The kept underlay back in its box, with the GL image composed over it where it lands.
void composeOverUnderlay(const CGBitmapContext& frame, const Underlay& under, const CAEAGLLayer::Presented& p,
                         const PixelRect& image);

}  // namespace uicompositor

struct UICompositor::State {
  uicompositor::ViewRecords previous;
  uicompositor::GLImages glImages;
  uicompositor::Underlay underlay;
  ~State() {
    for (auto& [layer, image] : glImages) {
      if (image.surface) cairo_surface_destroy(image.surface);
    }
  }
};
