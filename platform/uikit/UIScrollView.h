#pragma once
// A view that shows part of a larger content: its subviews stand in content coordinates and the
// bounds origin is the content offset, so moving the offset scrolls them. A finger dragged on the
// scroll view (on its background, or on subviews that pass their touches on) scrolls it, within
// [0, contentSize − bounds size] on each axis.
//
// Layout: constraints between a subview and the scroll view's own edges place the subview in the
// content area (the content layout guide of the platform): its leading and top edges sit at the
// constant from the content's origin; its trailing and bottom edges make the content size follow
// the subview (content size = the subview's far edge) instead of stretching the subview to the
// visible size, which then comes from its own size constraints or intrinsic size.
// Main thread only.
#include "platform/uikit/UIView.h"

class UIScrollView : public UIView {
 public:
  UIScrollView() = default;
  explicit UIScrollView(const CGRect& frame) : UIView(frame) {}

  CGSize contentSize() const { return contentSize_; }
  void setContentSize(CGSize size);
  CGPoint contentOffset() const { return bounds().origin; }
  // Moves the content; an offset outside the scrollable range is pulled back into it.
  void setContentOffset(CGPoint offset);
  // The largest offset on each axis (0 when the content fits).
  CGPoint maximumContentOffset() const;
  // Whether a drag is moving the content now.
  bool isDragging() const { return dragging_; }

  bool constrainsSubviewsToContentArea() const override { return true; }
  void layoutSubviews() override;

  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

  // How far (points) a finger moves before a touch becomes a drag.
  static constexpr double kDragThreshold = 8;

 protected:
  // Called after the offset changed (subclasses lay out what became visible).
  virtual void contentOffsetDidChange() {}

 private:
  CGSize contentSize_{0, 0};
  bool tracking_ = false, dragging_ = false;
  CGPoint touchStart_{}, offsetStart_{};
};
