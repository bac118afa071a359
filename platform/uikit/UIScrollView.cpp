#include "platform/uikit/UIScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/NSLayoutConstraint.h"

void UIScrollView::setContentSize(CGSize size) {
  if (!std::isfinite(size.width) || !std::isfinite(size.height)) return;
  contentSize_ = {std::max(0.0, size.width), std::max(0.0, size.height)};
  setContentOffset(contentOffset());  // still in range
}

CGPoint UIScrollView::maximumContentOffset() const {
  const CGSize visible = bounds().size;
  return {std::max(0.0, contentSize_.width - visible.width), std::max(0.0, contentSize_.height - visible.height)};
}

void UIScrollView::setContentOffset(CGPoint offset) {
  if (!std::isfinite(offset.x) || !std::isfinite(offset.y)) return;
  const CGPoint most = maximumContentOffset();
  offset.x = std::clamp(offset.x, 0.0, most.x);
  offset.y = std::clamp(offset.y, 0.0, most.y);
  CGRect b = bounds();
  if (b.origin == offset) return;
  b.origin = offset;
  setBounds(b);
  setNeedsDisplay();
  contentOffsetDidChange();
}

// The content reaches as far as the far edges of the subviews that tie their trailing or bottom
// edge to the scroll view (the subviews placed by the frame alone leave the size as it was set).
void UIScrollView::layoutSubviews() {
  bool tiedWidth = false, tiedHeight = false;
  CGSize content{0, 0};
  for (const auto& child : subviews()) {
    if (child->translatesAutoresizingMaskIntoConstraints()) continue;
    for (const auto& c : child->constraints()) {
      if (!c->isActive()) continue;
      const bool childFirst = c->firstItem() == child && c->secondItem().get() == this;
      const bool childSecond = c->secondItem() == child && c->firstItem().get() == this;
      if (!childFirst && !childSecond) continue;
      const NSLayoutAttribute mine = childFirst ? c->firstAttribute() : c->secondAttribute();
      // child.trailing = scroll.trailing + k puts the content's edge k points beyond the child.
      const double gap = childFirst ? -c->constant() : c->constant();
      const CGRect f = child->frame();
      if (mine == NSLayoutAttribute::Trailing || mine == NSLayoutAttribute::Right) {
        tiedWidth = true;
        content.width = std::max(content.width, CGRectGetMaxX(f) + gap);
      } else if (mine == NSLayoutAttribute::Bottom) {
        tiedHeight = true;
        content.height = std::max(content.height, CGRectGetMaxY(f) + gap);
      }
    }
  }
  if (tiedWidth || tiedHeight) {
    setContentSize({tiedWidth ? content.width : contentSize_.width, tiedHeight ? content.height : contentSize_.height});
  }
}

void UIScrollView::touchesBegan(const UITouchSet& touches, const UIEvent*) {
  if (touches.empty()) return;
  tracking_ = true;
  dragging_ = false;
  touchStart_ = touches.front()->locationInView(nullptr);
  offsetStart_ = contentOffset();
}

void UIScrollView::touchesMoved(const UITouchSet& touches, const UIEvent*) {
  if (touches.empty() || !tracking_) return;
  const CGPoint now = touches.front()->locationInView(nullptr);
  const double dx = now.x - touchStart_.x, dy = now.y - touchStart_.y;
  if (!dragging_ && std::hypot(dx, dy) < kDragThreshold) return;
  dragging_ = true;
  const CGPoint most = maximumContentOffset();
  // A content that fits on an axis does not move on it.
  setContentOffset({most.x > 0 ? offsetStart_.x - dx : contentOffset().x,
                    most.y > 0 ? offsetStart_.y - dy : contentOffset().y});
}

void UIScrollView::touchesEnded(const UITouchSet&, const UIEvent*) {
  tracking_ = false;
  dragging_ = false;
}

void UIScrollView::touchesCancelled(const UITouchSet&, const UIEvent*) {
  tracking_ = false;
  dragging_ = false;
}
