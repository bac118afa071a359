// Painting a view tree with Cairo: each visible view's shadow, background, layer contents, its
// backing image or its GL layer's presented pixels, then its subviews, with position, transform,
// alpha and clipping; and the display pass before it.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/graphics/CairoPaths.h"
#include "platform/uikit/UICompositorSupport.h"

namespace uicompositor {

void displayTree(const UIViewRef& view, std::set<const UIView*>* marked) {
  if (marked && view->needsDisplay()) marked->insert(view.get());
  view->displayIfNeeded();
  auto children = view->subviews();
  for (const auto& child : children) displayTree(child, marked);
}

namespace {

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

}  // namespace

void paintView(cairo_t* cr, const UIView& view, double alpha, GLImages* glImages, PaintRange* range) {
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

}  // namespace uicompositor
