#include "analysis/UIMarkersView.h"

UIMarkersView::UIMarkersView(const CGRect& frame) : UIView(frame), axisColor(UIColor::whiteColor()) {}

void UIMarkersView::setMarkers(const std::vector<Value>&) {}

void UIMarkersView::drawRect(const CGRect& rect) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  CGContextClearRect(c, rect);
  CGContextScaleCTM(c, 1, -1);
  CGContextTranslateCTM(c, 0, -bounds().size.height);
  CGContextSetStrokeColorWithColor(c, axisColor);
  CGContextSetLineWidth(c, axisWidth);
}
