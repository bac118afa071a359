#include "platform/graphics/UIBezierPath.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/graphics/CairoPaths.h"

UIBezierPathRef UIBezierPath::bezierPathWithRoundedRect(const CGRect& rect, double cornerRadius) {
  auto path = std::make_shared<UIBezierPath>();
  CGRect r = CGRectStandardize(rect);
  double radius = std::isfinite(cornerRadius) ? std::max(0.0, cornerRadius) : 0.0;
  radius = std::min(radius, std::min(r.size.width, r.size.height) / 2);
  path->elements_.push_back({radius, r});
  return path;
}

void UIBezierPath::addTo(CGContextRef c) const {
  cairo_t* cr = c->cairo();
  cairo_new_path(cr);
  for (const auto& e : elements_)
    cairoAddRoundedRect(cr, e.rect.origin.x, e.rect.origin.y, e.rect.size.width, e.rect.size.height, e.radius);
}

void UIBezierPath::fill() const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  addTo(c);
  CGContextFillPath(c);
}

void UIColorSetFill(const UIColorRef& color) { CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), color); }
