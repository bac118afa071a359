#pragma once
// Paths built once and filled or stroked into the current context: rectangles and rounded
// rectangles (backgrounds of small controls and labels).
#include <memory>
#include <vector>

#include "platform/graphics/CGContext.h"


class UIBezierPath;
using UIBezierPathRef = std::shared_ptr<UIBezierPath>;

class UIBezierPath {
 public:
  static UIBezierPathRef bezierPathWithRect(const CGRect& rect);
  // The corner radius is limited to half the shorter side; a negative radius counts as 0.
  static UIBezierPathRef bezierPathWithRoundedRect(const CGRect& rect, double cornerRadius);

  void moveToPoint(CGPoint p);
  void addLineToPoint(CGPoint p);
  void closePath();
  void setLineWidth(double width) { lineWidth_ = width; }
  double lineWidth() const { return lineWidth_; }

  // Fill with the context's fill colour / stroke with its stroke colour (set by setFill/setStroke).
  void fill() const;
  void stroke() const;

 private:
  struct Element { int kind; CGPoint p; double radius; CGRect rect; };
  std::vector<Element> elements_;
  double lineWidth_ = 1;
  void addTo(CGContextRef c) const;
};

// [color setFill] / [color setStroke] on the current context.
void UIColorSetFill(const UIColorRef& color);
void UIColorSetStroke(const UIColorRef& color);
