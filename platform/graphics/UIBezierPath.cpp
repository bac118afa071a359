#include "platform/graphics/UIBezierPath.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/graphics/CairoPaths.h"

namespace {
enum Kind { kMove, kLine, kClose, kRect, kRoundedRect };
}

UIBezierPathRef UIBezierPath::bezierPathWithRect(const CGRect& rect) {
  auto path = std::make_shared<UIBezierPath>();
  path->elements_.push_back({kRect, {}, 0, CGRectStandardize(rect)});
  return path;
}

UIBezierPathRef UIBezierPath::bezierPathWithRoundedRect(const CGRect& rect, double cornerRadius) {
  auto path = std::make_shared<UIBezierPath>();
  CGRect r = CGRectStandardize(rect);
  double radius = std::isfinite(cornerRadius) ? std::max(0.0, cornerRadius) : 0.0;
  radius = std::min(radius, std::min(r.size.width, r.size.height) / 2);
  path->elements_.push_back({kRoundedRect, {}, radius, r});
  return path;
}

void UIBezierPath::moveToPoint(CGPoint p) { elements_.push_back({kMove, p, 0, {}}); }
void UIBezierPath::addLineToPoint(CGPoint p) { elements_.push_back({kLine, p, 0, {}}); }
void UIBezierPath::closePath() { elements_.push_back({kClose, {}, 0, {}}); }

void UIBezierPath::addTo(CGContextRef c) const {
  cairo_t* cr = c->cairo();
  cairo_new_path(cr);
  for (const auto& e : elements_) {
    switch (e.kind) {
      case kMove: cairo_move_to(cr, e.p.x, e.p.y); break;
      case kLine: CGContextAddLineToPoint(c, e.p.x, e.p.y); break;
      case kClose: cairo_close_path(cr); break;
      case kRect: cairo_rectangle(cr, e.rect.origin.x, e.rect.origin.y, e.rect.size.width, e.rect.size.height); break;
      case kRoundedRect: {
        cairoAddRoundedRect(cr, e.rect.origin.x, e.rect.origin.y, e.rect.size.width, e.rect.size.height, e.radius);
        break;
      }
    }
  }
}

void UIBezierPath::fill() const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  addTo(c);
  CGContextFillPath(c);
}

void UIBezierPath::stroke() const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  addTo(c);
  CGContextSaveGState(c);
  CGContextSetLineWidth(c, lineWidth_);
  CGContextStrokePath(c);
  CGContextRestoreGState(c);
}

void UIColorSetFill(const UIColorRef& color) { CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), color); }
void UIColorSetStroke(const UIColorRef& color) { CGContextSetStrokeColorWithColor(UIGraphicsGetCurrentContext(), color); }
