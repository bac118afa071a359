#include "platform/uikit/UICompositor.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/graphics/CairoPaths.h"
#include "platform/graphics/UIImage.h"
#include <cstring>

namespace {

void displayTree(const UIViewRef& view) {
  view->displayIfNeeded();
  auto children = view->subviews();
  for (const auto& child : children) displayTree(child);
}

// The GL layer's last presented pixels as a Cairo image. The bytes are taken as premultiplied, as
// the phone's compositor takes a GL layer's contents.
cairo_surface_t* surfaceFromPresented(const CAEAGLLayer::Presented& p) {
  if (p.width <= 0 || p.height <= 0 || p.rgba.size() < static_cast<size_t>(p.width) * p.height * 4) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, p.width, p.height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < p.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    const uint8_t* src = p.rgba.data() + static_cast<size_t>(y) * p.width * 4;
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* px = src + x * 4;
      row[x] = (uint32_t(px[3]) << 24) | (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
    }
  }
  cairo_surface_mark_dirty(s);
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

// Paints the view in its own bounds coordinates (the caller has set up the matrix), at the size
// it shows now (an animated size is shown stretched to the in-between size).
void paintView(cairo_t* cr, const UIView& view, double alpha) {
  CGRect b = view.bounds();
  b.size = view.presentationSize();
  const double radius = view.layer()->cornerRadius();
  paintShadow(cr, *view.layer());
  bool group = alpha < 1;
  if (group) cairo_push_group(cr);
  if (view.clipsToBounds() || view.layer()->masksToBounds()) {
    shape(cr, b, radius);
    cairo_clip(cr);
  }
  if (auto bg = view.backgroundColor(); bg && bg->alpha() > 0) {
    auto c = bg->components();
    cairo_set_source_rgba(cr, c[0], c[1], c[2], c[3]);
    shape(cr, b, radius);
    cairo_fill(cr);
  }
  if (auto contents = view.layer()->contents(); contents && contents->surface()) {
    paintImage(cr, contents->surface(), b, CAIRO_FILTER_GOOD);
  }
  if (auto gl = std::dynamic_pointer_cast<CAEAGLLayer>(view.layer())) {
    if (cairo_surface_t* image = surfaceFromPresented(gl->presented())) {
      paintImage(cr, image, b);
      cairo_surface_destroy(image);
    }
  } else if (const CGBitmapContext* backing = view.backingStore()) {
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
    paintView(cr, *child, childAlpha);
    cairo_restore(cr);
  }
  if (group) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
  }
}

}  // namespace

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
  if (!root->isHidden() && root->alpha() > 0) paintView(cr, *root, root->alpha());
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
