#include "platform/graphics/UIImage.h"

#include <cairo.h>

#include <filesystem>

#include "platform/foundation/NSBundle.h"

UIImage::UIImage(cairo_surface_t* surface, double scale) : surface_(surface), scale_(scale) {}
UIImage::~UIImage() { cairo_surface_destroy(surface_); }

UIImageRef UIImage::imageWithContentsOfFile(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return nullptr;
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
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

void UIImage::drawInRect(const CGRect& rect, double alpha) const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c || pixelWidth() == 0 || pixelHeight() == 0 || rect.size.width == 0 || rect.size.height == 0) return;
  cairo_t* cr = c->cairo();
  cairo_save(cr);
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, rect.size.width / pixelWidth(), rect.size.height / pixelHeight());
  cairo_set_source_surface(cr, surface_, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
}

void UIImage::drawAtPoint(CGPoint point) const {
  CGSize s = size();
  drawInRect(CGRectMake(point.x, point.y, s.width, s.height));
}
