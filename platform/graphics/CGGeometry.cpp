#include "platform/graphics/CGGeometry.h"

#include <algorithm>

CGRect CGRectStandardize(const CGRect& r) {
  CGRect s = r;
  if (s.size.width < 0) { s.origin.x += s.size.width; s.size.width = -s.size.width; }
  if (s.size.height < 0) { s.origin.y += s.size.height; s.size.height = -s.size.height; }
  return s;
}

bool CGRectContainsPoint(const CGRect& r, const CGPoint& p) {
  CGRect s = CGRectStandardize(r);
  return p.x >= s.origin.x && p.x < s.origin.x + s.size.width && p.y >= s.origin.y &&
         p.y < s.origin.y + s.size.height;
}

bool CGRectIsEmpty(const CGRect& r) { return r.size.width == 0 || r.size.height == 0; }

CGRect CGRectIntersection(const CGRect& a, const CGRect& b) {
  double x0 = std::max(CGRectGetMinX(a), CGRectGetMinX(b));
  double y0 = std::max(CGRectGetMinY(a), CGRectGetMinY(b));
  double x1 = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
  double y1 = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
  if (x1 <= x0 || y1 <= y0) return CGRectZero;
  return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

CGRect CGRectInset(const CGRect& r, double dx, double dy) {
  CGRect s = CGRectStandardize(r);
  return CGRectMake(s.origin.x + dx, s.origin.y + dy, s.size.width - 2 * dx, s.size.height - 2 * dy);
}

bool CGAffineTransformIsIdentity(const CGAffineTransform& t) { return t == CGAffineTransformIdentity; }

CGAffineTransform CGAffineTransformMakeRotation(double angle) {
  double c = std::cos(angle), s = std::sin(angle);
  // Exact quarter turns keep exact zeros, so rotated frames do not pick up 1e-16 slivers.
  if (std::fabs(c) < 1e-15) c = 0;
  if (std::fabs(s) < 1e-15) s = 0;
  return {c, s, -s, c, 0, 0};
}

CGAffineTransform CGAffineTransformMakeScale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }

CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }

CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2) {
  return {t1.a * t2.a + t1.b * t2.c,
          t1.a * t2.b + t1.b * t2.d,
          t1.c * t2.a + t1.d * t2.c,
          t1.c * t2.b + t1.d * t2.d,
          t1.tx * t2.a + t1.ty * t2.c + t2.tx,
          t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t) {
  double det = t.a * t.d - t.b * t.c;
  if (det == 0) return t;
  CGAffineTransform r;
  r.a = t.d / det;
  r.b = -t.b / det;
  r.c = -t.c / det;
  r.d = t.a / det;
  r.tx = -(t.tx * r.a + t.ty * r.c);
  r.ty = -(t.tx * r.b + t.ty * r.d);
  return r;
}

CGPoint CGPointApplyAffineTransform(const CGPoint& p, const CGAffineTransform& t) {
  return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

CGRect CGRectApplyAffineTransform(const CGRect& r, const CGAffineTransform& t) {
  CGRect s = CGRectStandardize(r);
  CGPoint corners[4] = {
      CGPointApplyAffineTransform(s.origin, t),
      CGPointApplyAffineTransform({s.origin.x + s.size.width, s.origin.y}, t),
      CGPointApplyAffineTransform({s.origin.x, s.origin.y + s.size.height}, t),
      CGPointApplyAffineTransform({s.origin.x + s.size.width, s.origin.y + s.size.height}, t)};
  double x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
  for (const auto& c : corners) {
    x0 = std::min(x0, c.x); x1 = std::max(x1, c.x);
    y0 = std::min(y0, c.y); y1 = std::max(y1, c.y);
  }
  return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

CGRect UIEdgeInsetsInsetRect(const CGRect& rectIn, const UIEdgeInsets& e) {
  CGRect r = CGRectStandardize(rectIn);
  double w = r.size.width - e.left - e.right, h = r.size.height - e.top - e.bottom;
  return CGRectMake(r.origin.x + e.left, r.origin.y + e.top, w > 0 ? w : 0, h > 0 ? h : 0);
}
