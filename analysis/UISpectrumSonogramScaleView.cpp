#include "analysis/UISpectrumSonogramScaleView.h"

#include <cmath>

#include "analysis/UISpectrumContainerView.h"

std::vector<UISpectrumSonogramScaleView::Label> UISpectrumSonogramScaleView::computeLabels(double height) const {
  std::vector<Label> labels;
  auto container = containerView();
  if (!container) return labels;
  const int32_t count = container->verticalLabelsCount;
  const float step = getStepWithStart(0, 22050, count);
  if (container->scaleType() == 1) {
    const double scale = height / std::log10(735.0);
    for (float f : logLabelFrequencies(count)) {
      labels.push_back({formatLabel(f), f, roundCoord(height - (std::log10(f) - std::log10(30.0)) * scale)});
    }
  } else {
    const double scale = height / 22020.0;
    for (float f : linearLabelFrequencies(step, count)) {
      labels.push_back({formatLabel(f), f, roundCoord(height - f * scale)});
    }
  }
  const NSTextAttributes attributes = container->verticalAttrsDictionary();
  for (auto& label : labels) {
    const CGSize size = NSStringSizeWithAttributesAtScale(label.text, attributes, contentScaleFactor());
    const double top = label.y - size.height / 2;
    const bool inside = label.y >= 0 && label.y <= height;  // 50k, above the top, stays clipped away
    label.origin = {45 - size.width - 6, inside ? keepInside(top, size.height, height) : top};
  }
  return labels;
}

void UISpectrumSonogramScaleView::drawRect(const CGRect& rect) {
  auto container = containerView();
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!container || !c) return;
  const NSTextAttributes attributes = container->verticalAttrsDictionary();
  for (const auto& label : computeLabels(rect.size.height)) {
    NSStringDrawAtPointInContext(c, label.text, label.origin, attributes);
    CGContextSetStrokeColorWithColor(c, container->subAxisColor);
    CGContextSetLineWidth(c, container->subAxisWidth);
    CGContextBeginPath(c);
    CGContextMoveToPoint(c, 45, label.y);
    CGContextAddLineToPoint(c, 42, label.y);
    CGContextStrokePath(c);
  }
}
