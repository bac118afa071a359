#include "platform/uikit/UICompositor.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "platform/accelerate/VectorClones.h"
#include "platform/graphics/CairoPaths.h"
#include "platform/graphics/UIImage.h"

// A GL layer's presented pixels converted for Cairo, kept while the layer presents nothing new.
struct GLImage {
  std::weak_ptr<CALayer> layer;
  uint64_t count = 0;
  cairo_surface_t* surface = nullptr;
  bool used = false;
};

namespace {

// The display pass; the views that were marked for display go into *marked.
void displayTree(const UIViewRef& view, std::set<const UIView*>* marked = nullptr) {
  if (marked && view->needsDisplay()) marked->insert(view.get());
  view->displayIfNeeded();
  auto children = view->subviews();
  for (const auto& child : children) displayTree(child, marked);
}

// Bytes R, G, B, A read as one little-endian word are A<<24 | B<<16 | G<<8 | R; Cairo's pixel is
// A<<24 | R<<16 | G<<8 | B: red and blue change places. (A loop the compiler turns into vector
// code: nothing it writes can change what it reads or how far it goes.)
void swapRedAndBlue(const uint8_t* __restrict src, uint32_t* __restrict dst, int count) {
  for (int x = 0; x < count; ++x) {
    uint32_t v;
    std::memcpy(&v, src + static_cast<size_t>(x) * 4, 4);
    dst[x] = (v & 0xff00ff00u) | ((v >> 16) & 0xffu) | ((v & 0xffu) << 16);
  }
}

// The GL layer's last presented pixels as a Cairo image. The bytes are taken as premultiplied, as
// the phone's compositor takes a GL layer's contents.
void convertPresented(const CAEAGLLayer::Presented& p, cairo_surface_t* s) {
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  const int width = p.width, height = p.height;
  for (int y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    // Bytes B, G, R, A are Cairo's pixel already.
    if (p.bgra) std::memcpy(out, p.row(y), static_cast<size_t>(width) * 4);
    else swapRedAndBlue(p.row(y), out, width);
  }
  cairo_surface_mark_dirty(s);
}

cairo_surface_t* surfaceFromPresented(const CAEAGLLayer::Presented& p, cairo_surface_t* reuse = nullptr) {
  if (p.width <= 0 || p.height <= 0 || p.rgba.size() < static_cast<size_t>(p.width) * p.height * 4) return nullptr;
  cairo_surface_t* s = reuse;
  if (!s) {
    s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, p.width, p.height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(s);
      return nullptr;
    }
  }
  convertPresented(p, s);
  return s;
}

void paintImage(cairo_t* cr, cairo_surface_t* image, const CGRect& into, cairo_filter_t filter = CAIRO_FILTER_NEAREST) {
  int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
  if (w <= 0 || h <= 0 || into.size.width <= 0 || into.size.height <= 0) return;
  cairo_save(cr);
  cairo_translate(cr, into.origin.x, into.origin.y);
  cairo_scale(cr, into.size.width / w, into.size.height / h);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), filter);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_fill(cr);
  cairo_restore(cr);
}

// A rectangle, with rounded corners when the radius is positive.
void shape(cairo_t* cr, const CGRect& b, double radius) {
  radius = std::min({std::isfinite(radius) ? radius : 0.0, b.size.width / 2, b.size.height / 2});
  if (radius <= 0) {
    cairo_rectangle(cr, b.origin.x, b.origin.y, b.size.width, b.size.height);
    return;
  }
  cairoAddRoundedRect(cr, b.origin.x, b.origin.y, b.size.width, b.size.height, radius);
}

// The layer's shadow, under the view: its path's rectangle, offset, in the shadow colour, with a
// soft edge of the blur radius built from a few widening, fading rectangles.
void paintShadow(cairo_t* cr, const CALayer& layer) {
  const auto& path = layer.shadowPath();
  const double opacity = layer.shadowOpacity();
  if (!path || path->size.width <= 0 || path->size.height <= 0 || !(opacity > 0) || !layer.shadowColor()) return;
  auto c = layer.shadowColor()->components();
  const CGSize offset = layer.shadowOffset();
  if (!std::isfinite(offset.width) || !std::isfinite(offset.height)) return;
  const double radius = std::isfinite(layer.shadowRadius()) ? std::clamp(layer.shadowRadius(), 0.0, 64.0) : 0.0;
  const int steps = radius > 0 ? 6 : 1;
  const double alpha = std::min(opacity, 1.0) * c[3];
  for (int i = steps; i >= 1; --i) {
    const double grow = radius * i / steps;
    cairo_rectangle(cr, path->origin.x + offset.width - grow, path->origin.y + offset.height - grow,
                    path->size.width + 2 * grow, path->size.height + 2 * grow);
    cairo_set_source_rgba(cr, c[0], c[1], c[2], alpha / steps);
    cairo_fill(cr);
  }
}

using GLImages = std::map<const CAEAGLLayer*, GLImage>;

// The GL layer's presented pixels for Cairo: converted anew, or (with a cache) converted once per
// present. The caller destroys what it gets when there is no cache.
cairo_surface_t* glSurface(const std::shared_ptr<CAEAGLLayer>& gl, GLImages* cache) {
  const CAEAGLLayer::Presented& p = gl->presentedAsRead();
  if (!cache) return surfaceFromPresented(p);
  GLImage& entry = (*cache)[gl.get()];
  entry.used = true;
  const bool sameSize = entry.surface && entry.layer.lock() == gl && cairo_image_surface_get_width(entry.surface) == p.width &&
                        cairo_image_surface_get_height(entry.surface) == p.height;
  if (!sameSize || entry.count != p.count) {
    // A new present of the same size is converted into the image kept for the layer.
    if (entry.surface && !sameSize) {
      cairo_surface_destroy(entry.surface);
      entry.surface = nullptr;
    }
    entry.surface = surfaceFromPresented(p, entry.surface);
    entry.layer = gl;
    entry.count = p.count;
  }
  return entry.surface;
}

// Which views of a walk paint themselves: those whose place in the painting order (the order of
// the walk, the hidden ones left out) lies in [from, to). Views outside still apply their clipping
// to the ones inside. Splitting a walk so is exact only where no view outside the range with
// alpha below 1 has views inside it (its group would be split).
struct PaintRange {
  size_t next = 0;
  size_t from = 0, to = SIZE_MAX;
};

// Paints the view in its own bounds coordinates (the caller has set up the matrix), at the size
// it shows now (an animated size is shown stretched to the in-between size).
void paintView(cairo_t* cr, const UIView& view, double alpha, GLImages* glImages, PaintRange* range = nullptr) {
  CGRect b = view.bounds();
  b.size = view.presentationSize();
  const size_t order = range ? range->next++ : 0;
  const bool self = !range || (order >= range->from && order < range->to);
  const double radius = view.layer()->cornerRadius();
  if (self) paintShadow(cr, *view.layer());
  bool group = self && alpha < 1;
  if (group) cairo_push_group(cr);
  if (view.clipsToBounds()) {
    shape(cr, b, radius);
    cairo_clip(cr);
  }
  if (auto bg = view.backgroundColor(); self && bg && bg->alpha() > 0) {
    auto c = bg->components();
    cairo_set_source_rgba(cr, c[0], c[1], c[2], c[3]);
    shape(cr, b, radius);
    cairo_fill(cr);
  }
  if (auto contents = view.layer()->contents(); self && contents && contents->surface()) {
    paintImage(cr, contents->surface(), b, CAIRO_FILTER_GOOD);
  }
  if (auto gl = std::dynamic_pointer_cast<CAEAGLLayer>(view.layer())) {
    if (!self) {
      // Not painted in this pass: its kept image stays (converted when it is painted next).
      if (glImages) {
        if (auto it = glImages->find(gl.get()); it != glImages->end()) it->second.used = true;
      }
    } else if (cairo_surface_t* image = glSurface(gl, glImages)) {
      paintImage(cr, image, b);
      if (!glImages) cairo_surface_destroy(image);
    }
  } else if (const CGBitmapContext* backing = view.backingStore(); self && backing) {
    paintImage(cr, backing->surface(), b);
  }
  for (const auto& child : view.subviews()) {
    double childAlpha = child->presentationAlpha();
    if (child->isHidden() || childAlpha <= 0) continue;
    cairo_save(cr);
    CGRect cb = child->bounds();
    cb.size = child->presentationSize();
    CGAffineTransform t = child->presentationTransform();
    CGPoint c = child->presentationCenter();
    cairo_translate(cr, c.x, c.y);
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(cr, &m);
    cairo_translate(cr, -cb.origin.x - cb.size.width / 2, -cb.origin.y - cb.size.height / 2);
    paintView(cr, *child, childAlpha, glImages, range);
    cairo_restore(cr);
  }
  if (group) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
  }
}

// What decides how a view is painted, and where: two frames whose records of a view are equal
// paint the view's pixels alike (its content aside, which the display pass and GL presents tell).
struct ViewRecord {
  std::weak_ptr<const UIView> view;
  UICompositor::PixelRect box;  // device pixels the view (and its shadow) may touch, clipped
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

// A rectangle of user space under a matrix, as the device pixels it covers (rounded outwards).
UICompositor::PixelRect deviceBox(const cairo_matrix_t& m, const CGRect& r) {
  double xs[4] = {r.origin.x, r.origin.x + r.size.width, r.origin.x, r.origin.x + r.size.width};
  double ys[4] = {r.origin.y, r.origin.y, r.origin.y + r.size.height, r.origin.y + r.size.height};
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (int i = 0; i < 4; ++i) {
    double x = xs[i], y = ys[i];
    cairo_matrix_transform_point(&m, &x, &y);
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
  if (!(x1 > x0) || !(y1 > y0) || !std::isfinite(x0 + y0 + x1 + y1)) return {};
  // Smoothed edges and filtered images may reach a pixel beyond the exact shape.
  auto lo = [](double v) { return static_cast<int>(std::clamp(std::floor(v) - 1, -1e6, 1e6)); };
  auto hi = [](double v) { return static_cast<int>(std::clamp(std::ceil(v) + 1, -1e6, 1e6)); };
  return {lo(x0), lo(y0), hi(x1) - lo(x0), hi(y1) - lo(y0)};
}

UICompositor::PixelRect intersect(const UICompositor::PixelRect& a, const UICompositor::PixelRect& b) {
  int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

UICompositor::PixelRect unite(const UICompositor::PixelRect& a, const UICompositor::PixelRect& b) {
  if (a.width <= 0 || a.height <= 0) return b;
  if (b.width <= 0 || b.height <= 0) return a;
  int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

// The records of every painted view, walking the tree as paintView does.
void collect(const UIViewRef& view, cairo_matrix_t m, double alpha, double effective,
             const UICompositor::PixelRect& clip, const std::set<const UIView*>& marked,
             std::map<const UIView*, ViewRecord>& out, double parentAlpha = 1) {
  ViewRecord r;
  r.parentAlpha = parentAlpha;
  r.view = view;
  CGRect b = view->bounds();
  b.size = view->presentationSize();
  r.bounds = b;
  r.matrix = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
  r.alpha = alpha;
  r.effectiveAlpha = effective;
  const CALayer& layer = *view->layer();
  r.box = deviceBox(m, b);
  if (const auto& path = layer.shadowPath(); path && layer.shadowOpacity() > 0 && layer.shadowColor()) {
    const double radius = std::isfinite(layer.shadowRadius()) ? std::clamp(layer.shadowRadius(), 0.0, 64.0) : 0.0;
    const CGSize offset = layer.shadowOffset();
    auto c = layer.shadowColor()->components();
    r.shadow = {path->origin.x, path->origin.y, path->size.width, path->size.height, offset.width, offset.height,
                radius, layer.shadowOpacity(), c[0] + 2 * c[1] + 4 * c[2], c[3]};
    if (std::isfinite(offset.width) && std::isfinite(offset.height)) {
      r.box = unite(r.box, deviceBox(m, CGRectMake(path->origin.x + offset.width - radius, path->origin.y + offset.height - radius,
                                                  path->size.width + 2 * radius, path->size.height + 2 * radius)));
    }
  }
  r.box = intersect(r.box, clip);
  if (auto bg = view->backgroundColor(); bg && bg->alpha() > 0) r.background = bg->components();
  r.contents = layer.contents();
  if (auto gl = dynamic_cast<const CAEAGLLayer*>(&layer)) {
    r.gl = true;
    r.presents = gl->presentedAsRead().count;
  }
  r.marked = marked.count(view.get()) > 0;
  r.cornerRadius = layer.cornerRadius();
  r.clips = view->clipsToBounds();
  r.order = out.size();
  const UICompositor::PixelRect childClip = r.clips ? intersect(clip, deviceBox(m, b)) : clip;
  out[view.get()] = std::move(r);

  for (const auto& child : view->subviews()) {
    double childAlpha = child->presentationAlpha();
    if (child->isHidden() || childAlpha <= 0) continue;
    CGRect cb = child->bounds();
    cb.size = child->presentationSize();
    CGAffineTransform t = child->presentationTransform();
    CGPoint c = child->presentationCenter();
    cairo_matrix_t cm = m;
    cairo_matrix_translate(&cm, c.x, c.y);
    cairo_matrix_t tm;
    cairo_matrix_init(&tm, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_matrix_multiply(&cm, &tm, &cm);
    cairo_matrix_translate(&cm, -cb.origin.x - cb.size.width / 2, -cb.origin.y - cb.size.height / 2);
    collect(child, cm, childAlpha, effective * childAlpha, childClip, marked, out, effective);
  }
}

// Fewer, larger rectangles: overlapping or touching ones merge; past a handful, or when they
// cover most of the frame, one rectangle around them all.
std::vector<UICompositor::PixelRect> merged(std::vector<UICompositor::PixelRect> rects, const UICompositor::PixelRect& all) {
  bool again = true;
  while (again) {
    again = false;
    for (size_t i = 0; i < rects.size() && !again; ++i) {
      for (size_t j = i + 1; j < rects.size(); ++j) {
        const auto& a = rects[i];
        const auto& b = rects[j];
        if (a.x <= b.x + b.width && b.x <= a.x + a.width && a.y <= b.y + b.height && b.y <= a.y + a.height) {
          rects[i] = unite(a, b);
          rects.erase(rects.begin() + static_cast<long>(j));
          again = true;
          break;
        }
      }
    }
  }
  long area = 0;
  UICompositor::PixelRect around;
  for (const auto& r : rects) {
    area += static_cast<long>(r.width) * r.height;
    around = unite(around, r);
  }
  if (rects.size() > 16 || area > static_cast<long>(all.width) * all.height * 3 / 4) return {around};
  return rects;
}

}  // namespace

// What lies under a GL view: the frame's pixels in the view's box as the views before it in the
// painting order left them. While nothing under the box changes, a new present of the view is
// shown by putting these back and painting the view and what lies over it, instead of painting
// every layer of the box again.
struct Underlay {
  const UIView* view = nullptr;
  std::weak_ptr<const UIView> owner;
  UICompositor::PixelRect box;
  size_t order = 0;
  std::vector<uint32_t> pixels;
  bool valid = false;
};

struct UICompositor::State {
  std::map<const UIView*, ViewRecord> previous;
  GLImages glImages;
  Underlay underlay;
  ~State() {
    for (auto& [layer, image] : glImages) {
      if (image.surface) cairo_surface_destroy(image.surface);
    }
  }
};

UICompositor::UICompositor() : state_(std::make_unique<State>()) {}
UICompositor::~UICompositor() = default;

namespace {

bool covers(const std::vector<UICompositor::PixelRect>& rects, const UICompositor::PixelRect& box) {
  for (const auto& r : rects) {
    if (intersect(r, box) == box) return true;
  }
  return false;
}

bool overlaps(const std::vector<UICompositor::PixelRect>& rects, const UICompositor::PixelRect& box) {
  for (const auto& r : rects) {
    if (intersect(r, box).width > 0) return true;
  }
  return false;
}

void copyBox(const CGBitmapContext& frame, const UICompositor::PixelRect& box, std::vector<uint32_t>& pixels, bool out) {
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

using ViewRecords = std::map<const UIView*, ViewRecord>;
using PixelRect = UICompositor::PixelRect;

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

// Whether a view's rectangle, as painted (axis-aligned, not rounded), covers all of `rect`.
bool covers(const ViewRecord& r, const PixelRect& rect) {
  const auto& m = r.matrix;  // xx, yx, xy, yy, x0, y0
  if (r.cornerRadius != 0 || m[1] != 0 || m[2] != 0 || !(m[0] > 0) || !(m[3] > 0)) return false;
  const double x0 = m[0] * r.bounds.origin.x + m[4], y0 = m[3] * r.bounds.origin.y + m[5];
  const double x1 = x0 + m[0] * r.bounds.size.width, y1 = y0 + m[3] * r.bounds.size.height;
  return x0 <= rect.x && y0 <= rect.y && x1 >= rect.x + rect.width && y1 >= rect.y + rect.height;
}

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

// The kept underlay back in its box, with the GL image composed over it where it lands.
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

// The rectangles a frame repaints, from this frame's records against the last frame's: a view
// painted differently, or no longer painted, damages where it was and where it is. A GL view that
// only presented anew, over an underlay still valid, is set apart in *presentedOverUnderlay unless
// something else is repainted under it.
std::vector<PixelRect> damagedRects(const ViewRecords& now, const ViewRecords& previous, const Underlay& under,
                                    const PixelRect& all, std::optional<PixelRect>* presentedOverUnderlay) {
  std::vector<PixelRect> rects;
  auto add = [&](const PixelRect& r) {
    PixelRect inside = intersect(r, all);
    if (inside.width > 0) rects.push_back(inside);
  };
  for (const auto& [view, record] : now) {
    auto old = previous.find(view);
    const bool known =
        old != previous.end() && !old->second.view.expired() && old->second.view.lock() == record.view.lock();
    if (!known) {
      add(record.box);
      if (old != previous.end()) add(old->second.box);
    } else if (record.marked || !record.samePaint(old->second)) {
      ViewRecord unchanged = old->second;
      unchanged.presents = record.presents;
      if (under.valid && view == under.view && !record.marked && record.samePaint(unchanged)) {
        *presentedOverUnderlay = record.box;
        continue;
      }
      add(record.box);
      add(old->second.box);
    }
  }
  for (const auto& [view, record] : previous) {
    if (!now.count(view)) add(record.box);
  }
  rects = merged(std::move(rects), all);
  // Anything else repainted under the box puts the view's box through the whole repaint.
  if (*presentedOverUnderlay && overlaps(rects, **presentedOverUnderlay)) {
    rects.push_back(**presentedOverUnderlay);
    rects = merged(std::move(rects), all);
    presentedOverUnderlay->reset();
  }
  return rects;
}

// The GL view whose underlay a repaint keeps: the largest one it repaints whole.
const ViewRecord* underlayToKeep(const ViewRecords& now, const std::vector<PixelRect>& rects, const PixelRect& all) {
  const ViewRecord* keep = nullptr;
  for (const auto& [view, record] : now) {
    if (!record.gl || record.parentAlpha != 1 || record.box.width <= 0 || record.box.height <= 0) continue;
    if (intersect(record.box, all) != record.box || !covers(rects, record.box)) continue;
    if (!keep || static_cast<long>(record.box.width) * record.box.height > static_cast<long>(keep->box.width) * keep->box.height)
      keep = &record;
  }
  return keep;
}

// Whether every pixel of the frame comes out opaque: some view, at full alpha down the tree, paints
// an opaque background over all of it, and no clipping view above it cuts into that. Whatever is
// painted over it is painted with Cairo's OVER, which keeps an opaque pixel opaque.
bool paintsOpaque(const ViewRecords& records, const PixelRect& all) {
  for (const auto& [view, r] : records) {
    if (!r.background || (*r.background)[3] != 1 || r.alpha != 1 || r.effectiveAlpha != 1 || !covers(r, all))
      continue;
    auto owner = r.view.lock();
    if (!owner) continue;
    bool cut = false;
    for (auto up = owner->superview(); up && !cut; up = up->superview()) {
      if (!up->clipsToBounds()) continue;
      auto it = records.find(up.get());
      cut = it == records.end() || !covers(it->second, all);
    }
    if (!cut) return true;
  }
  return false;
}

// Converted GL images of layers that were not painted (gone, hidden) are let go.
void releaseUnusedGLImages(GLImages& images) {
  for (auto it = images.begin(); it != images.end();) {
    if (it->second.used) {
      ++it;
      continue;
    }
    if (it->second.surface) cairo_surface_destroy(it->second.surface);
    it = images.erase(it);
  }
}

// Repaints the damaged rectangles of the frame: cleared, then the whole tree painted through them.
// When they hold the kept GL view whole, in two passes, keeping what lies under it between them;
// a new present over an unchanged underlay puts the underlay back and paints the view and what
// lies over it (its box joins the rectangles).
void repaint(CGBitmapContext& frame, UICompositor::State& state, const UIViewRef& root, double scale, bool painted,
             std::vector<PixelRect>& rects, const ViewRecord* kept, const UIView* keptView,
             const std::optional<PixelRect>& presentedOverUnderlay) {
  Underlay& under = state.underlay;
  const PixelRect all{0, 0, frame.width(), frame.height()};
  // The underlay's GL view composed straight over it when it can be; true when it was.
  auto composeDirect = [&]() {
    auto record = state.previous.find(under.view);
    auto view = under.owner.lock();
    if (record == state.previous.end() || !view) return false;
    auto gl = std::dynamic_pointer_cast<CAEAGLLayer>(view->layer());
    if (!gl) return false;
    auto image = directImageRect(record->second, *view, *gl, state.previous, all);
    if (!image) return false;
    composeOverUnderlay(frame, under, gl->presentedAsRead(), *image);
    return true;
  };
  const CGRect b = root->bounds();
  for (auto& [layer, image] : state.glImages) image.used = false;
  cairo_t* cr = frame.context()->cairo();
  auto paint = [&](const std::vector<PixelRect>& clip, bool clear, PaintRange* range) {
    cairo_save(cr);
    cairo_identity_matrix(cr);
    for (const auto& r : clip) cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);
    if (clear) {
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    }
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, -b.origin.x, -b.origin.y);
    if (painted) paintView(cr, *root, root->alpha(), &state.glImages, range);
    cairo_restore(cr);
  };
  if (!rects.empty()) {
    if (kept) {
      PaintRange below{0, 0, kept->order};
      paint(rects, true, &below);
      cairo_surface_flush(frame.surface());
      under.view = keptView;
      under.owner = kept->view;
      under.box = kept->box;
      under.order = kept->order;
      copyBox(frame, kept->box, under.pixels, true);
      under.valid = true;
      const bool direct = composeDirect();
      cairo_surface_mark_dirty(frame.surface());
      PaintRange above{0, direct ? kept->order + 1 : kept->order, SIZE_MAX};
      paint(rects, false, &above);
    } else {
      paint(rects, true, nullptr);
    }
  }
  if (presentedOverUnderlay) {
    // A new present over an unchanged underlay: the underlay back, then the view and what lies over it.
    cairo_surface_flush(frame.surface());
    const bool direct = composeDirect();
    if (!direct) copyBox(frame, under.box, under.pixels, false);
    cairo_surface_mark_dirty(frame.surface());
    PaintRange above{0, direct ? under.order + 1 : under.order, SIZE_MAX};
    paint({under.box}, false, &above);
    rects.push_back(under.box);
  }
  cairo_surface_flush(frame.surface());
  releaseUnusedGLImages(state.glImages);
}

}  // namespace

void UICompositor::setTarget(const Target& target) {
  if (target == target_) return;
  // The pixels composed into last may be going away: nothing is read from them again.
  if (inTarget_) frame_.reset();
  inTarget_ = false;
  target_ = target;
}

bool UICompositor::ensureFrame(int width, int height, double scale, bool intoTarget) {
  intoTarget = intoTarget && target_.pixels && target_.width == width && target_.height == height;
  if (frame_ && frame_->width() == width && frame_->height() == height && scale_ == scale && inTarget_ == intoTarget)
    return true;
  frame_.reset();
  if (intoTarget) frame_ = CGBitmapContext::createForData(target_.pixels, width, height, target_.stride, scale);
  inTarget_ = frame_ != nullptr;
  if (!frame_) frame_ = CGBitmapContext::create(width, height, scale);
  scale_ = scale;
  full_ = true;
  if (frame_) return true;
  state_->previous.clear();
  state_->underlay = {};
  return false;
}

const std::vector<UICompositor::PixelRect>& UICompositor::update(const UIViewRef& root, double scale) {
  damage_.clear();
  if (!root) return damage_;
  if (!(scale > 0)) scale = root->contentScaleFactor();
  root->layoutIfNeeded();
  std::set<const UIView*> marked;
  displayTree(root, &marked);
  const CGRect b = root->bounds();
  const int w = static_cast<int>(std::lround(b.size.width * scale));
  const int h = static_cast<int>(std::lround(b.size.height * scale));
  const PixelRect all{0, 0, w, h};
  const bool painted = !root->isHidden() && root->alpha() > 0;

  ViewRecords now;
  if (painted && w > 0 && h > 0) {
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, scale, scale);
    cairo_matrix_translate(&m, -b.origin.x, -b.origin.y);
    collect(root, m, root->alpha(), root->alpha(), all, marked, now);
  }
  if (!ensureFrame(w, h, scale, target_.pixels && paintsOpaque(now, all))) return damage_;
  Underlay& under = state_->underlay;
  if (under.valid) {
    auto it = now.find(under.view);
    under.valid = it != now.end() && it->second.view.lock() == under.owner.lock() && it->second.box == under.box &&
                  it->second.order == under.order && it->second.parentAlpha == 1;
  }
  std::optional<PixelRect> presentedOverUnderlay;
  std::vector<PixelRect> rects =
      full_ ? std::vector<PixelRect>{all} : damagedRects(now, state_->previous, under, all, &presentedOverUnderlay);
  // None is kept while the kept underlay is still to be used in this frame.
  const ViewRecord* keep =
      painted && !rects.empty() && !presentedOverUnderlay ? underlayToKeep(now, rects, all) : nullptr;
  if (!rects.empty() && !keep && overlaps(rects, under.box)) under.valid = false;
  const std::optional<ViewRecord> kept = keep ? std::optional<ViewRecord>(*keep) : std::nullopt;
  const UIView* keptView = keep ? keep->view.lock().get() : nullptr;
  state_->previous = std::move(now);
  full_ = false;
  if (rects.empty() && !presentedOverUnderlay) return damage_;
  repaint(*frame_, *state_, root, scale, painted, rects, kept ? &*kept : nullptr, keptView, presentedOverUnderlay);
  damage_ = std::move(rects);
  return damage_;
}

std::unique_ptr<CGBitmapContext> UICompositor::render(const UIViewRef& root, double scale) {
  if (!root) return nullptr;
  if (!(scale > 0)) scale = root->contentScaleFactor();
  root->layoutIfNeeded();
  displayTree(root);
  CGRect b = root->bounds();
  int w = static_cast<int>(std::lround(b.size.width * scale));
  int h = static_cast<int>(std::lround(b.size.height * scale));
  auto image = CGBitmapContext::create(w, h, scale);
  if (!image) return nullptr;
  cairo_t* cr = image->context()->cairo();
  cairo_save(cr);
  cairo_translate(cr, -b.origin.x, -b.origin.y);
  if (!root->isHidden() && root->alpha() > 0) paintView(cr, *root, root->alpha(), nullptr);
  cairo_restore(cr);
  return image;
}

bool UICompositor::writePNG(const UIViewRef& root, const std::string& path, std::string* error, double scale) {
  auto image = render(root, scale);
  if (!image) {
    if (error) *error = "the view has no area to render";
    return false;
  }
  return image->writePNG(path, error);
}
