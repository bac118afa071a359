#pragma once
// Points, sizes, rectangles and affine transforms in points (double precision, as on the phone's
// 64-bit platform).
#include <cmath>

struct CGPoint {
  double x = 0;
  double y = 0;
  bool operator==(const CGPoint&) const = default;
};

struct CGSize {
  double width = 0;
  double height = 0;
  bool operator==(const CGSize&) const = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;
  bool operator==(const CGRect&) const = default;
};

// Insets of a rectangle's four edges in points (positive values move the edges inwards).
struct UIEdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const UIEdgeInsets&) const = default;
};
inline constexpr UIEdgeInsets UIEdgeInsetsZero{};
inline UIEdgeInsets UIEdgeInsetsMake(double top, double left, double bottom, double right) {
  return {top, left, bottom, right};
}
// The rectangle with its edges moved inwards by the insets (the size never goes below zero).
CGRect UIEdgeInsetsInsetRect(const CGRect& rect, const UIEdgeInsets& insets);

inline constexpr CGPoint CGPointZero{};
inline constexpr CGRect CGRectZero{};

inline CGPoint CGPointMake(double x, double y) { return {x, y}; }
inline CGSize CGSizeMake(double w, double h) { return {w, h}; }
inline CGRect CGRectMake(double x, double y, double w, double h) { return {{x, y}, {w, h}}; }

// A rectangle with a negative width or height is normalised first, as the platform does.
CGRect CGRectStandardize(const CGRect& r);
inline double CGRectGetMinX(const CGRect& r) { return CGRectStandardize(r).origin.x; }
inline double CGRectGetMinY(const CGRect& r) { return CGRectStandardize(r).origin.y; }
inline double CGRectGetMaxX(const CGRect& r) { auto s = CGRectStandardize(r); return s.origin.x + s.size.width; }
inline double CGRectGetMaxY(const CGRect& r) { auto s = CGRectStandardize(r); return s.origin.y + s.size.height; }
inline double CGRectGetMidX(const CGRect& r) { return (CGRectGetMinX(r) + CGRectGetMaxX(r)) / 2; }
inline double CGRectGetMidY(const CGRect& r) { return (CGRectGetMinY(r) + CGRectGetMaxY(r)) / 2; }
// Half-open on the maximum edges: a point on the right or bottom edge is outside.
bool CGRectContainsPoint(const CGRect& r, const CGPoint& p);
bool CGRectIsEmpty(const CGRect& r);
CGRect CGRectIntersection(const CGRect& a, const CGRect& b);  // CGRectZero-sized when disjoint
CGRect CGRectInset(const CGRect& r, double dx, double dy);

// [a b 0; c d 0; tx ty 1], points as row vectors: x' = a x + c y + tx, y' = b x + d y + ty.
struct CGAffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  bool operator==(const CGAffineTransform&) const = default;
};

inline constexpr CGAffineTransform CGAffineTransformIdentity{};
bool CGAffineTransformIsIdentity(const CGAffineTransform& t);
CGAffineTransform CGAffineTransformMakeRotation(double angle);
CGAffineTransform CGAffineTransformMakeScale(double sx, double sy);
CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty);
// t1 then t2.
CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2);
// A singular transform is returned unchanged, as the platform does.
CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t);
CGPoint CGPointApplyAffineTransform(const CGPoint& p, const CGAffineTransform& t);
// The bounding box of the transformed rectangle.
CGRect CGRectApplyAffineTransform(const CGRect& r, const CGAffineTransform& t);
