// View transitions: one view taking the place of another, with a cross-dissolve.
#include <algorithm>
#include <cmath>

#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UIView.h"

void UIView::transitionFromView(const UIViewRef& from, const UIViewRef& to, double duration, uint32_t options,
                                std::function<void(bool)> completion) {
  auto parent = from ? from->superview() : nullptr;
  if (parent && to && to != from) {
    // `to` goes just above `from`, where `from` stands in its superview.
    const auto& siblings = parent->subviews();
    size_t index = std::find(siblings.begin(), siblings.end(), from) - siblings.begin();
    if (to->superview() == parent) {
      auto toAt = std::find(siblings.begin(), siblings.end(), to) - siblings.begin();
      if (static_cast<size_t>(toAt) < index) --index;
    }
    parent->insertSubview(to, index + 1);
  }
  const bool dissolve = (options & (0xFu << 20)) == UIViewAnimationOptionTransitionCrossDissolve;
  if (dissolve && to && std::isfinite(duration) && duration > 0) {
    const double target = to->alpha();
    UIView::performWithoutAnimation([&] { to->setAlpha(0); });
    UIView::animateWithDuration(duration, 0, UIViewAnimationOptionCurveEaseInOut, [&] { to->setAlpha(target); },
                                [from, to, completion = std::move(completion)](bool finished) {
                                  if (from && from != to) from->removeFromSuperview();
                                  if (completion) completion(finished);
                                });
    return;
  }
  if (from && from != to) from->removeFromSuperview();
  // Not animated: the completion still comes from the run loop, as the platform reports it.
  UIView::animateWithDuration(0, [] {}, std::move(completion));
}
