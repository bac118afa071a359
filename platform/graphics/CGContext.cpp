#include "platform/graphics/CGContext.h"

#include <cairo.h>

#include <cmath>
#include <limits>

namespace {
thread_local std::vector<CGContextRef> contextStack;

void setSource(CGContextRef c, const UIColorRef& color) {
  auto comp = color ? color->components() : std::array<double, 4>{0, 0, 0, 0};
  cairo_set_source_rgba(c->cairo(), comp[0], comp[1], comp[2], comp[3]);
}
void applyAntialias(CGContextRef c) {
  cairo_set_antialias(c->cairo(), c->state().antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}
}  // namespace

CGContext::CGContext(cairo_t* cr) : cr_(cairo_reference(cr)) {}
CGContext::~CGContext() { cairo_destroy(cr_); }

void CGContext::save() {
  cairo_save(cr_);
  states_.push_back(states_.back());
}

void CGContext::restore() {
  // An unbalanced restore is ignored rather than corrupting Cairo's state stack.
  if (states_.size() <= 1) return;
  cairo_restore(cr_);
  states_.pop_back();
}

CGContextRef UIGraphicsGetCurrentContext() { return contextStack.empty() ? nullptr : contextStack.back(); }
void UIGraphicsPushContext(CGContextRef context) { contextStack.push_back(context); }
void UIGraphicsPopContext() {
  if (!contextStack.empty()) contextStack.pop_back();
}

// Every call accepts a null context and does nothing, as drawing into no context does on the phone.
void CGContextSaveGState(CGContextRef c) { if (c) c->save(); }
void CGContextRestoreGState(CGContextRef c) { if (c) c->restore(); }
void CGContextScaleCTM(CGContextRef c, double sx, double sy) { if (c) cairo_scale(c->cairo(), sx, sy); }
void CGContextTranslateCTM(CGContextRef c, double tx, double ty) { if (c) cairo_translate(c->cairo(), tx, ty); }
void CGContextSetLineWidth(CGContextRef c, double width) {
  if (c && std::isfinite(width) && width >= 0) cairo_set_line_width(c->cairo(), width);
}
void CGContextSetStrokeColorWithColor(CGContextRef c, const UIColorRef& color) { if (c) c->state().stroke = color; }
void CGContextSetFillColorWithColor(CGContextRef c, const UIColorRef& color) { if (c) c->state().fill = color; }
void CGContextSetRGBFillColor(CGContextRef c, double r, double g, double b, double a) {
  CGContextSetFillColorWithColor(c, UIColor::colorWithRed(r, g, b, a));
}
void CGContextSetShouldAntialias(CGContextRef c, bool antialias) { if (c) c->state().antialias = antialias; }
void CGContextBeginPath(CGContextRef c) { if (c) cairo_new_path(c->cairo()); }
void CGContextMoveToPoint(CGContextRef c, double x, double y) { if (c) cairo_move_to(c->cairo(), x, y); }
void CGContextAddLineToPoint(CGContextRef c, double x, double y) {
  if (!c) return;
  // Like Core Graphics, a line with no current point starts one there instead of failing.
  if (!cairo_has_current_point(c->cairo())) cairo_move_to(c->cairo(), x, y);
  else cairo_line_to(c->cairo(), x, y);
}
void CGContextAddRect(CGContextRef c, const CGRect& r) {
  if (c) cairo_rectangle(c->cairo(), r.origin.x, r.origin.y, r.size.width, r.size.height);
}
void CGContextStrokePath(CGContextRef c) {
  if (!c) return;
  setSource(c, c->state().stroke);
  applyAntialias(c);
  cairo_stroke(c->cairo());
}
void CGContextFillPath(CGContextRef c) {
  if (!c) return;
  setSource(c, c->state().fill);
  applyAntialias(c);
  cairo_set_fill_rule(c->cairo(), CAIRO_FILL_RULE_WINDING);
  cairo_fill(c->cairo());
}
void CGContextFillRect(CGContextRef c, const CGRect& rect) {
  if (!c) return;
  cairo_new_path(c->cairo());
  CGContextAddRect(c, rect);
  CGContextFillPath(c);
}
void CGContextClearRect(CGContextRef c, const CGRect& rect) {
  if (!c) return;
  cairo_t* cr = c->cairo();
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_fill(cr);
  cairo_restore(cr);
}

std::unique_ptr<CGBitmapContext> CGBitmapContext::create(int widthPx, int heightPx, double scale) {
  return createForData(nullptr, widthPx, heightPx, 0, scale);
}

std::unique_ptr<CGBitmapContext> CGBitmapContext::createForData(uint8_t* pixels, int widthPx, int heightPx, int stride,
                                                                double scale) {
  if (widthPx <= 0 || heightPx <= 0 || widthPx > 32767 || heightPx > 32767) return nullptr;
  if (!(scale > 0) || !std::isfinite(scale)) return nullptr;
  if (pixels && (stride % 4 != 0 || stride / 4 < widthPx)) return nullptr;
  std::unique_ptr<CGBitmapContext> bitmap(new CGBitmapContext());
  bitmap->surface_ = pixels ? cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, widthPx, heightPx, stride)
                            : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, widthPx, heightPx);
  if (cairo_surface_status(bitmap->surface_) != CAIRO_STATUS_SUCCESS) return nullptr;
  bitmap->width_ = widthPx;
  bitmap->height_ = heightPx;
  cairo_t* cr = cairo_create(bitmap->surface_);
  cairo_scale(cr, scale, scale);
  bitmap->context_ = std::make_unique<CGContext>(cr);
  cairo_destroy(cr);  // the context holds its own reference
  return bitmap;
}

CGBitmapContext::~CGBitmapContext() {
  context_.reset();
  if (surface_) cairo_surface_destroy(surface_);
}

CGBitmapContext::RGBA CGBitmapContext::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0, 0};
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  int stride = cairo_image_surface_get_stride(surface_);
  uint32_t argb = *reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride + x * 4);
  uint8_t a = argb >> 24;
  if (a == 0) return {0, 0, 0, 0};
  auto unpremultiply = [a](uint32_t v) { return static_cast<uint8_t>(std::min<uint32_t>(255, (v * 255 + a / 2) / a)); };
  return {unpremultiply((argb >> 16) & 0xff), unpremultiply((argb >> 8) & 0xff), unpremultiply(argb & 0xff), a};
}

bool CGBitmapContext::writePNG(const std::string& path, std::string* error) const {
  cairo_surface_flush(surface_);
  cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
  if (status != CAIRO_STATUS_SUCCESS) {
    if (error) *error = std::string("cannot write ") + path + ": " + cairo_status_to_string(status);
    return false;
  }
  return true;
}
