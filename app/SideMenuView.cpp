// The side-menu container's view: where the front view stands for a position, the side views
// under it, the shadow and the elastic drag.
#include "app/SideMenuView.h"

#include <algorithm>
#include <cmath>

#include "app/SideMenuController.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UINavigationController.h"

namespace {

// v scaled from the range [min1, max1] to [min2, max2] and kept within [min2, max2]. A range of no
// length (a panel with no width) has nowhere to scale from: the value stays at min2.
double scaledValue(double v, double min2, double max2, double min1, double max1) {
  const double span = max1 - min1;
  double result = span != 0 && std::isfinite(span) ? ((max2 - min2) / span) * (v - min1) + min2 : min2;
  if (!std::isfinite(result)) result = min2;
  return std::clamp(result, std::min(min2, max2), std::max(min2, max2));
}

}  // namespace

SideMenuView::SideMenuView(const CGRect& frame, const std::shared_ptr<SideMenuController>& controller)
    : UIView(frame), controller_(controller) {}

std::shared_ptr<SideMenuView> SideMenuView::create(const CGRect& frame, const std::shared_ptr<SideMenuController>& controller) {
  auto view = std::make_shared<SideMenuView>(frame, controller);
  view->frontView_ = std::make_shared<UIView>(view->bounds());
  view->frontView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  view->addSubview(view->frontView_);
  return view;
}

double SideMenuView::frontLocationForPosition(FrontViewPosition position) const {
  auto c = controller_.lock();
  if (!c || position < PositionRightRemoved || position > PositionRearRemoved) return 0;
  const int symmetry = position < PositionClosed ? -1 : 1;
  const auto s = c->side(symmetry);
  const FrontViewPosition mirrored = PositionClosed + (position - PositionClosed) * symmetry;
  double location = 0;
  if (mirrored == PositionRear) location = s.width;
  else if (mirrored > PositionRear) location = s.width + s.overdraw;
  return location * symmetry;
}

CGRect SideMenuView::hierarchicalFrameAdjustment(CGRect frame) const {
  auto c = controller_.lock();
  if (!c || !c->presentFrontViewHierarchically) return frame;
  // A navigation bar's height, plus what the status bar covers of this view (none here: the
  // platform's status bar is hidden).
  double offset = UINavigationController::kNavigationBarHeight;
  CGRect status = UIApplication::sharedApplication().statusBarFrame();
  CGRect mine = convertRectToView(bounds(), nullptr);
  if (!CGRectIsEmpty(CGRectIntersection(mine, status))) offset += std::min<float>(status.size.width, status.size.height);
  frame.origin.y += offset;
  frame.size.height = std::max(0.0, frame.size.height - offset);
  return frame;
}

void SideMenuView::layoutRearViewsForLocation(double xLocation) {
  auto c = controller_.lock();
  if (!c) return;
  const CGRect b = bounds();
  const auto rear = c->side(+1);
  const double rearX = scaledValue(xLocation, -rear.displacement, 0, 0, rear.width);
  if (rearView_) rearView_->setFrame(CGRectMake(rearX, 0, rear.width + rear.overdraw, b.size.height));
  const auto right = c->side(-1);
  const double rightShift = scaledValue(xLocation, 0, right.displacement, -right.width, 0);
  const double rightWidth = right.width + right.overdraw;
  if (rightView_) rightView_->setFrame(CGRectMake(b.size.width - rightWidth + rightShift, 0, rightWidth, b.size.height));
}

void SideMenuView::layoutSubviews() {
  if (disableLayout) return;
  auto c = controller_.lock();
  if (!c) return;
  const CGRect b = bounds();
  const FrontViewPosition position = c->frontViewPosition();
  const double x = frontLocationForPosition(position);
  layoutRearViewsForLocation(x);
  frontView_->setFrame(hierarchicalFrameAdjustment(CGRectMake(x, 0, b.size.width, b.size.height)));
  auto front = c->frontViewController();
  const bool shadowed = front && front->isViewLoaded() && position > PositionRightRemoved && position < PositionRearRemoved;
  frontView_->layer()->setShadowPath(shadowed ? std::optional<CGRect>(frontView_->bounds()) : std::optional<CGRect>(CGRectZero));
}

bool SideMenuView::pointInside(CGPoint point, const UIEvent* event) const {
  if (UIView::pointInside(point, event)) return true;
  auto c = controller_.lock();
  if (!c || !c->extendsPointInsideHit) return false;
  auto inside = [&](const UIViewRef& v, const UIViewControllerRef& child) {
    return v && child && child->isViewLoaded() && v->pointInside(v->pointFromSuperview(point), event);
  };
  return inside(rearView_, c->rearViewController()) || inside(frontView_, c->frontViewController()) ||
         inside(rightView_, c->rightViewController());
}

void SideMenuView::reloadShadow() {
  auto c = controller_.lock();
  if (!c) return;
  auto layer = frontView_->layer();
  layer->setShadowColor(c->frontViewShadowColor());
  layer->setShadowOpacity(c->frontViewShadowOpacity());
  layer->setShadowOffset(c->frontViewShadowOffset());
  layer->setShadowRadius(c->frontViewShadowRadius());
}

void SideMenuView::prepareRearViewForPosition(FrontViewPosition newPosition) {
  if (!rearView_) {
    rearView_ = std::make_shared<UIView>(bounds());
    rearView_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    auto it = std::find(subviews().begin(), subviews().end(), frontView_);
    insertSubview(rearView_, static_cast<size_t>(it - subviews().begin()));
  }
  auto c = controller_.lock();
  layoutRearViewsForLocation(frontLocationForPosition(c ? c->frontViewPosition() : PositionClosed));
  prepareForNewPosition(newPosition);
}

void SideMenuView::prepareRightViewForPosition(FrontViewPosition newPosition) {
  if (!rightView_) {
    rightView_ = std::make_shared<UIView>(bounds());
    rightView_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    auto it = std::find(subviews().begin(), subviews().end(), frontView_);
    insertSubview(rightView_, static_cast<size_t>(it - subviews().begin()));
  }
  auto c = controller_.lock();
  layoutRearViewsForLocation(frontLocationForPosition(c ? c->frontViewPosition() : PositionClosed));
  prepareForNewPosition(newPosition);
}

void SideMenuView::unloadRearView() {
  if (rearView_) rearView_->removeFromSuperview();
  rearView_.reset();
}

void SideMenuView::unloadRightView() {
  if (rightView_) rightView_->removeFromSuperview();
  rightView_.reset();
}

void SideMenuView::prepareForNewPosition(FrontViewPosition newPosition) {
  if (!rearView_ || !rightView_) return;
  const auto& views = subviews();
  auto rearAt = std::find(views.begin(), views.end(), rearView_) - views.begin();
  auto rightAt = std::find(views.begin(), views.end(), rightView_) - views.begin();
  // The panel that opens lies above the other one.
  const bool rightAbove = rightAt > rearAt;
  if ((newPosition <= PositionRight && !rightAbove) || (newPosition >= PositionClosed && rightAbove)) {
    auto lower = std::min(rearAt, rightAt), upper = std::max(rearAt, rightAt);
    UIViewRef a = views[static_cast<size_t>(lower)], b = views[static_cast<size_t>(upper)];
    insertSubview(b, static_cast<size_t>(lower));
    insertSubview(a, static_cast<size_t>(upper));
  }
}

double SideMenuView::adjustedDragLocationForLocation(double x) const {
  auto c = controller_.lock();
  if (!c) return x;
  const int symmetry = x < 0 ? -1 : 1;
  auto s = c->side(symmetry);
  const FrontViewPosition position = c->frontViewPosition();
  const bool elastic = s.bounceBack && !s.stableDrag && position != PositionRightMost && position != PositionRearMost;
  double width = s.width, overdraw = s.overdraw;
  if (!elastic) {
    width += overdraw;
    overdraw = 0;
  }
  const double a = x * symmetry;
  double result;
  if (a <= width) result = a;
  else if (a > width + 2 * overdraw) result = width + overdraw;
  else result = width + (a - width) * 0.5;
  return result * symmetry;
}

void SideMenuView::dragFrontViewToXLocation(double xLocation) {
  if (!std::isfinite(xLocation)) return;
  const CGRect b = bounds();
  xLocation = adjustedDragLocationForLocation(xLocation);
  layoutRearViewsForLocation(xLocation);
  frontView_->setFrame(hierarchicalFrameAdjustment(CGRectMake(xLocation, 0, b.size.width, b.size.height)));
}
