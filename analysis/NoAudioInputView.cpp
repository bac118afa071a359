#include "analysis/NoAudioInputView.h"

#include <algorithm>

NoAudioInputView::NoAudioInputView(const CGRect& frame) : UIView(frame) {
  setBackgroundColor(UIColor::colorWithRed(0, 0, 0, 0.6));
  setOpaque(false);
  setClipsToBounds(true);
  setUserInteractionEnabled(false);  // touches still reach the chart under it
}

void NoAudioInputView::setReason(const std::string& reason) {
  if (reason == reason_) return;
  reason_ = reason;
  setNeedsDisplay();
}

NSTextAttributes NoAudioInputView::titleAttributes() const {
  return NSTextAttributes{UIFont::systemFontOfSize(17), UIColor::whiteColor(), 0};
}

NSTextAttributes NoAudioInputView::reasonAttributes() const {
  return NSTextAttributes{UIFont::systemFontOfSize(11), UIColor::colorWithRed(0.8, 0.8, 0.8, 1), 0};
}

NoAudioInputView::Line NoAudioInputView::titleLine() const {
  const CGRect b = bounds();
  const double scale = contentScaleFactor();
  const CGSize size = NSStringSizeWithAttributesAtScale(kTitle, titleAttributes(), scale);
  const double gap = reason_.empty() ? 0 : 4;
  const double below = reason_.empty() ? 0 : NSStringSizeWithAttributesAtScale(reason_, reasonAttributes(), scale).height;
  const double top = (b.size.height - (size.height + gap + below)) / 2;
  return {kTitle, {std::max(0.0, (b.size.width - size.width) / 2), top}, size};
}

NoAudioInputView::Line NoAudioInputView::reasonLine() const {
  if (reason_.empty()) return {};
  const Line title = titleLine();
  const CGSize size = NSStringSizeWithAttributesAtScale(reason_, reasonAttributes(), contentScaleFactor());
  // A reason wider than the chart starts at its left edge and is cut at the right one.
  return {reason_, {std::max(0.0, (bounds().size.width - size.width) / 2), title.origin.y + title.size.height + 4}, size};
}

void NoAudioInputView::drawRect(const CGRect&) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  const Line title = titleLine();
  NSStringDrawAtPointInContext(c, title.text, title.origin, titleAttributes());
  if (!reason_.empty()) {
    const Line reason = reasonLine();
    NSStringDrawAtPointInContext(c, reason.text, reason.origin, reasonAttributes());
  }
}
