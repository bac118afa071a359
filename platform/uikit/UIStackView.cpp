#include "platform/uikit/UIStackView.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/NSLayoutConstraint.h"

void UIStackView::setAxis(UILayoutConstraintAxis axis) {
  axis_ = axis;
  arrangedChanged();
}

void UIStackView::setSpacing(double spacing) {
  spacing_ = std::isfinite(spacing) ? std::max(0.0, spacing) : 0.0;
  arrangedChanged();
}

void UIStackView::addArrangedSubview(const UIViewRef& view) {
  if (!view) return;
  arranged_.erase(std::remove(arranged_.begin(), arranged_.end(), view), arranged_.end());
  arranged_.push_back(view);
  view->setTranslatesAutoresizingMaskIntoConstraints(false);
  if (view->superview().get() != this) addSubview(view);
  arrangedChanged();
}

void UIStackView::removeArrangedSubview(const UIViewRef& view) {
  arranged_.erase(std::remove(arranged_.begin(), arranged_.end(), view), arranged_.end());
  arrangedChanged();
}

void UIStackView::arrangedChanged() {
  setNeedsLayout();
  invalidateIntrinsicContentSize();
}

std::vector<UIViewRef> UIStackView::visibleArranged() const {
  std::vector<UIViewRef> views;
  for (const auto& v : arranged_) {
    // A view taken out of the tree (removeFromSuperview) is no longer arranged.
    if (v->superview().get() == this && !v->isHidden()) views.push_back(v);
  }
  return views;
}

double UIStackView::requestedLength(const UIView& view) const {
  const NSLayoutAttribute along = axis_ == UILayoutConstraintAxis::Horizontal ? NSLayoutAttribute::Width
                                                                               : NSLayoutAttribute::Height;
  for (const auto& c : view.constraints()) {
    if (c->isActive() && c->firstItem().get() == &view && c->firstAttribute() == along && !c->secondItem() &&
        c->relation() == NSLayoutRelation::Equal) {
      return c->constant();
    }
  }
  const CGSize intrinsic = view.intrinsicContentSize();
  return axis_ == UILayoutConstraintAxis::Horizontal ? intrinsic.width : intrinsic.height;
}

CGSize UIStackView::intrinsicContentSize() const {
  const auto views = visibleArranged();
  double length = 0;
  bool any = false;
  for (const auto& v : views) {
    const double l = requestedLength(*v);
    if (l >= 0) {
      length += l;
      any = true;
    }
  }
  if (!any) return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
  if (views.size() > 1) length += spacing_ * double(views.size() - 1);
  return axis_ == UILayoutConstraintAxis::Horizontal ? CGSize{length, UIViewNoIntrinsicMetric}
                                                     : CGSize{UIViewNoIntrinsicMetric, length};
}

void UIStackView::layoutSubviews() {
  const auto views = visibleArranged();
  if (views.empty()) return;
  const bool horizontal = axis_ == UILayoutConstraintAxis::Horizontal;
  const CGRect b = bounds();
  const double total = horizontal ? b.size.width : b.size.height;
  const double across = horizontal ? b.size.height : b.size.width;
  std::vector<double> lengths;
  double known = 0;
  int unknown = 0;
  for (const auto& v : views) {
    const double l = requestedLength(*v);
    lengths.push_back(l);
    if (l >= 0) known += l;
    else ++unknown;
  }
  const double spacings = spacing_ * double(views.size() - 1);
  const double share = unknown > 0 ? std::max(0.0, (total - known - spacings) / unknown) : 0;
  double at = horizontal ? b.origin.x : b.origin.y;
  for (size_t i = 0; i < views.size(); ++i) {
    const double l = lengths[i] >= 0 ? lengths[i] : share;
    views[i]->setFrame(horizontal ? CGRectMake(at, b.origin.y, l, across) : CGRectMake(b.origin.x, at, across, l));
    at += l + spacing_;
  }
}
