#pragma once
// Paths built once and filled into the current context: rounded rectangles (backgrounds of small
// controls and labels).
#include <memory>
#include <vector>

#include "platform/graphics/CGContext.h"


class UIBezierPath;
using UIBezierPathRef = std::shared_ptr<UIBezierPath>;

class UIBezierPath {
 public:
  // The corner radius is limited to half the shorter side; a negative radius counts as 0.
  static UIBezierPathRef bezierPathWithRoundedRect(const CGRect& rect, double cornerRadius);

  // Fill with the context's fill colour (set by setFill).
  void fill() const;

 private:
  struct Element { double radius; CGRect rect; };
  std::vector<Element> elements_;
  void addTo(CGContextRef c) const;
};

// [color setFill] on the current context.
void UIColorSetFill(const UIColorRef& color);
