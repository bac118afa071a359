#include "platform/graphics/UIImage.h"

#include <cairo.h>

#include <cmath>
#include <filesystem>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/graphics/PNGFile.h"

UIImage::UIImage(cairo_surface_t* surface, double scale) : surface_(surface), scale_(scale) {}
UIImage::~UIImage() { cairo_surface_destroy(surface_); }

UIImageRef UIImage::imageWithContentsOfFile(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return nullptr;
  std::string error;
  cairo_surface_t* surface = png::readSurface(path, &error);
  if (!surface) {
    NSLog("UIImage: %s not loaded: %s", path.c_str(), error.c_str());
    return nullptr;
  }
  double scale = path.find("@2x.") != std::string::npos ? 2 : path.find("@3x.") != std::string::npos ? 3 : 1;
  return std::make_shared<const UIImage>(surface, scale);
}

UIImageRef UIImage::imageNamed(const std::string& name) {
  if (name.empty()) return nullptr;
  std::string base = name;
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".png") == 0) base.resize(base.size() - 4);
  for (const char* suffix : {"@2x", ""}) {
    if (auto path = NSBundle::mainBundle().pathForResource(base + suffix, "png")) {
      if (auto image = imageWithContentsOfFile(*path)) return image;
    }
  }
  return nullptr;
}

int UIImage::pixelWidth() const { return cairo_image_surface_get_width(surface_); }
int UIImage::pixelHeight() const { return cairo_image_surface_get_height(surface_); }
CGSize UIImage::size() const { return {pixelWidth() / scale_, pixelHeight() / scale_}; }

UIImageRef UIImage::resizableImageWithCapInsets(const UIEdgeInsets& capInsets, UIImageResizingMode mode) const {
  auto clean = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
  CGSize s = size();
  UIEdgeInsets e{clean(capInsets.top), clean(capInsets.left), clean(capInsets.bottom), clean(capInsets.right)};
  // Caps wider than the image leave no middle: scale them down to fit.
  if (e.left + e.right > s.width && e.left + e.right > 0) {
    double k = s.width / (e.left + e.right);
    e.left *= k;
    e.right *= k;
  }
  if (e.top + e.bottom > s.height && e.top + e.bottom > 0) {
    double k = s.height / (e.top + e.bottom);
    e.top *= k;
    e.bottom *= k;
  }
  auto copy = std::make_shared<UIImage>(cairo_surface_reference(surface_), scale_);
  copy->capInsets_ = e;
  copy->resizingMode_ = mode;
  copy->resizable_ = true;
  copy->renderingMode_ = renderingMode_;
  return copy;
}

UIImageRef UIImage::imageWithRenderingMode(UIImageRenderingMode mode) const {
  auto copy = std::make_shared<UIImage>(cairo_surface_reference(surface_), scale_);
  copy->capInsets_ = capInsets_;
  copy->resizingMode_ = resizingMode_;
  copy->resizable_ = resizable_;
  copy->renderingMode_ = mode;
  return copy;
}

namespace {
// Paints the source rectangle (pixels) of the surface into the destination rectangle (points).
void paintPart(cairo_t* cr, cairo_surface_t* surface, double sx, double sy, double sw, double sh, const CGRect& d,
               double alpha, bool tile, double scale) {
  if (sw <= 0 || sh <= 0 || d.size.width <= 0 || d.size.height <= 0) return;
  cairo_save(cr);
  cairo_rectangle(cr, d.origin.x, d.origin.y, d.size.width, d.size.height);
  cairo_clip(cr);
  cairo_translate(cr, d.origin.x, d.origin.y);
  if (tile) {
    cairo_scale(cr, 1 / scale, 1 / scale);
  } else {
    cairo_scale(cr, d.size.width / sw, d.size.height / sh);
  }
  cairo_surface_t* part = cairo_surface_create_for_rectangle(surface, sx, sy, sw, sh);
  cairo_set_source_surface(cr, part, 0, 0);
  cairo_pattern_set_extend(cairo_get_source(cr), tile ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint_with_alpha(cr, alpha);
  cairo_surface_destroy(part);
  cairo_restore(cr);
}
}  // namespace

void UIImage::drawInRect(const CGRect& rect, double alpha) const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c || pixelWidth() == 0 || pixelHeight() == 0 || rect.size.width == 0 || rect.size.height == 0) return;
  cairo_t* cr = c->cairo();
  if (resizable_) {
    const CGRect r = CGRectStandardize(rect);
    const UIEdgeInsets& e = capInsets_;
    // Caps keep their size unless the rectangle is too small for them, then they shrink evenly.
    double kx = e.left + e.right > r.size.width ? r.size.width / (e.left + e.right) : 1;
    double ky = e.top + e.bottom > r.size.height ? r.size.height / (e.top + e.bottom) : 1;
    const double dx[4] = {r.origin.x, r.origin.x + e.left * kx, CGRectGetMaxX(r) - e.right * kx, CGRectGetMaxX(r)};
    const double dy[4] = {r.origin.y, r.origin.y + e.top * ky, CGRectGetMaxY(r) - e.bottom * ky, CGRectGetMaxY(r)};
    const double W = pixelWidth(), H = pixelHeight();
    const double sxs[4] = {0, e.left * scale_, W - e.right * scale_, W};
    const double sys[4] = {0, e.top * scale_, H - e.bottom * scale_, H};
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) {
        bool middle = row == 1 || col == 1;
        paintPart(cr, surface_, sxs[col], sys[row], sxs[col + 1] - sxs[col], sys[row + 1] - sys[row],
                  CGRectMake(dx[col], dy[row], dx[col + 1] - dx[col], dy[row + 1] - dy[row]), alpha,
                  middle && resizingMode_ == UIImageResizingMode::Tile, scale_);
      }
    }
    return;
  }
  cairo_save(cr);
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, rect.size.width / pixelWidth(), rect.size.height / pixelHeight());
  cairo_set_source_surface(cr, surface_, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
}

void UIImage::drawInRectWithTint(const CGRect& rect, const UIColorRef& tint, double alpha) const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (renderingMode_ != UIImageRenderingMode::AlwaysTemplate || !tint || !c) {
    drawInRect(rect, alpha);
    return;
  }
  // The image drawn into a group is the mask; the tint fills through it.
  cairo_t* cr = c->cairo();
  cairo_push_group(cr);
  drawInRect(rect, 1);
  cairo_pattern_t* mask = cairo_pop_group(cr);
  cairo_save(cr);
  auto k = tint->components();
  cairo_set_source_rgba(cr, k[0], k[1], k[2], k[3] * alpha);
  cairo_mask(cr, mask);
  cairo_restore(cr);
  cairo_pattern_destroy(mask);
}
