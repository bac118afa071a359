#include "platform/uikit/UIView.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/foundation/NSException.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIViewAnimationState.h"
#include "platform/uikit/UIWindow.h"

namespace {
// Starts above 0, the count of a view that was never solved.
std::atomic<uint64_t> layoutInputs{1};
}  // namespace

void UIView::layoutInputsChanged() { layoutInputs.fetch_add(1, std::memory_order_relaxed); }

UIView::UIView() : contentScaleFactor_(UIScreen::mainScreen().scale()) {}

UIView::UIView(const CGRect& frame) : UIView() { setFrame(frame); }


CGRect UIView::frame() const {
  CGRect local = CGRectMake(-bounds_.size.width / 2, -bounds_.size.height / 2, bounds_.size.width, bounds_.size.height);
  CGRect r = CGRectApplyAffineTransform(local, transform_);
  r.origin.x += center_.x;
  r.origin.y += center_.y;
  return r;
}

void UIView::setFrame(const CGRect& frameIn) {
  CGRect f = CGRectStandardize(frameIn);
  if (!std::isfinite(f.origin.x) || !std::isfinite(f.origin.y) || !std::isfinite(f.size.width) ||
      !std::isfinite(f.size.height)) {
    NSException::raise(NSInvalidArgumentException, "frame is not finite");
  }
  CGSize size = f.size;
  if (!CGAffineTransformIsIdentity(transform_)) {
    // The frame is the bounding box of the transformed bounds: solve for the bounds size.
    double a = std::fabs(transform_.a), b = std::fabs(transform_.b), c = std::fabs(transform_.c),
           d = std::fabs(transform_.d);
    double det = a * d - c * b;
    if (det != 0) {
      size.width = std::max(0.0, (f.size.width * d - f.size.height * c) / det);
      size.height = std::max(0.0, (a * f.size.height - b * f.size.width) / det);
    }
  }
  applyCenter({CGRectGetMidX(f) - transform_.tx, CGRectGetMidY(f) - transform_.ty});
  setBounds(CGRectMake(bounds_.origin.x, bounds_.origin.y, size.width, size.height));
}

void UIView::setCenter(const CGPoint& center) {
  if (!std::isfinite(center.x) || !std::isfinite(center.y)) {
    NSException::raise(NSInvalidArgumentException, "center is not finite");
  }
  applyCenter(center);
}

void UIView::setBounds(const CGRect& boundsIn) {
  CGRect b = CGRectStandardize(boundsIn);
  CGSize old = bounds_.size;
  bool resized = b.size != bounds_.size;
  if (resized || b.origin != bounds_.origin) layoutInputsChanged();
  if (resized) applySize(b.size);
  bounds_ = b;
  if (resized) {
    needsLayout_ = true;
    needsDisplay_ = true;
    autoresizeSubviews(old);
  }
  syncLayer();
}

// A subview that translates its mask keeps its fixed margins and sizes; the flexible ones share the
// change of the superview's size in proportion to their current lengths, as the platform does.
void UIView::autoresizeSubviews(CGSize oldSize) {
  for (const auto& child : subviews_) {
    uint32_t mask = child->autoresizingMask_;
    if (!child->translatesMask_ || mask == UIViewAutoresizingNone) continue;
    CGRect f = child->frame();
    auto resize = [](double& start, double& length, double oldTotal, double newTotal, bool flexStart, bool flexLength,
                     bool flexEnd) {
      double end = oldTotal - start - length;
      double delta = newTotal - oldTotal;
      double flexible = (flexStart ? start : 0) + (flexLength ? length : 0) + (flexEnd ? end : 0);
      int count = int(flexStart) + int(flexLength) + int(flexEnd);
      if (count == 0) return;
      auto share = [&](double part) { return flexible > 0 ? delta * part / flexible : delta / count; };
      double dStart = flexStart ? share(start) : 0, dLength = flexLength ? share(length) : 0;
      start += dStart;
      length = std::max(0.0, length + dLength);
    };
    resize(f.origin.x, f.size.width, oldSize.width, bounds_.size.width, mask & UIViewAutoresizingFlexibleLeftMargin,
           mask & UIViewAutoresizingFlexibleWidth, mask & UIViewAutoresizingFlexibleRightMargin);
    resize(f.origin.y, f.size.height, oldSize.height, bounds_.size.height, mask & UIViewAutoresizingFlexibleTopMargin,
           mask & UIViewAutoresizingFlexibleHeight, mask & UIViewAutoresizingFlexibleBottomMargin);
    child->setFrame(f);
  }
}

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
  if (translates != translatesMask_) layoutInputsChanged();
  translatesMask_ = translates;
  if (auto parent = superview()) parent->setNeedsLayout();
}

void UIView::invalidateIntrinsicContentSize() {
  layoutInputsChanged();
  invalidateUnreadIntrinsicContentSize();
}

void UIView::invalidateUnreadIntrinsicContentSize() {
  if (auto parent = superview()) parent->setNeedsLayout();
  setNeedsLayout();
}

CGSize UIView::sizeThatFits(CGSize) const { return bounds_.size; }

std::vector<NSLayoutConstraintRef> UIView::constraints() const { return constraints_; }

void UIView::addConstraintReference(const NSLayoutConstraintRef& constraint) {
  if (std::find(constraints_.begin(), constraints_.end(), constraint) == constraints_.end()) {
    constraints_.push_back(constraint);
    layoutInputsChanged();
  }
}

void UIView::removeConstraintReference(const NSLayoutConstraint* constraint) {
  layoutInputsChanged();
  constraints_.erase(std::remove_if(constraints_.begin(), constraints_.end(),
                                    [constraint](const NSLayoutConstraintRef& c) { return c.get() == constraint; }),
                     constraints_.end());
}

void UIView::setBackgroundColor(const UIColorRef& color) {
  backgroundColor_ = color;
  needsDisplay_ = true;
}

UIColorRef UIView::tintColor() const {
  for (const UIView* v = this; v;) {
    if (v->tintColor_) return v->tintColor_;
    auto parent = v->superview();
    v = parent.get();
  }
  return UIColor::colorWithRed(0, 0.478, 1, 1);
}

namespace {
void markTree(UIView& view) {
  view.setNeedsDisplay();
  for (const auto& child : view.subviews()) markTree(*child);
}
}  // namespace

void UIView::setTintColor(UIColorRef color) {
  tintColor_ = std::move(color);
  markTree(*this);
}

std::shared_ptr<CALayer> UIView::makeLayer() const { return std::make_shared<CALayer>(); }

std::shared_ptr<CALayer> UIView::layer() const {
  if (!layer_) {
    layer_ = makeLayer();
    syncLayer();
  }
  return layer_;
}

void UIView::syncLayer() const {
  if (!layer_) return;
  layer_->setBounds(bounds_);
  layer_->setContentsScale(contentScaleFactor_);
}

std::shared_ptr<UIWindow> UIView::window() const {
  const UIView* v = this;
  while (auto parent = v->superview()) v = parent.get();
  return std::dynamic_pointer_cast<UIWindow>(const_cast<UIView*>(v)->weak_from_this().lock());
}

bool UIView::isDescendantOfView(const UIView* view) const {
  for (const UIView* v = this; v; ) {
    if (v == view) return true;
    auto parent = v->superview();
    v = parent.get();
  }
  return false;
}

void UIView::insertSubview(const UIViewRef& view, size_t index) {
  if (!view) return;
  if (weak_from_this().expired()) {
    // A subview would have no superview to pass touches and layout to.
    NSException::raise(NSInternalInconsistencyException,
                       "a view takes subviews only once a shared pointer owns it (not while it is constructed)");
  }
  if (isDescendantOfView(view.get())) {
    NSException::raise(NSInvalidArgumentException, "a view cannot be added to itself or to one of its subviews");
  }
  UIViewRef keep = view;  // removing it from a former parent must not destroy it
  if (auto old = view->superview()) {
    auto& list = old->subviews_;
    list.erase(std::remove(list.begin(), list.end(), view), list.end());
  }
  view->willMoveToSuperview(this);
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
  view->superview_ = weak_from_this();
  layoutInputsChanged();
  view->needsLayout_ = true;
  view->didMoveToSuperview();
  needsLayout_ = true;
}

void UIView::addSubview(const UIViewRef& view) { insertSubview(view, subviews_.size()); }

void UIView::bringSubviewToFront(const UIViewRef& view) {
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  subviews_.erase(it);
  subviews_.push_back(view);
  layoutInputsChanged();
}

void UIView::removeFromSuperview() {
  auto parent = superview();
  if (!parent) return;
  UIViewRef keep = shared_from_this();
  willMoveToSuperview(nullptr);
  auto& list = parent->subviews_;
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  superview_.reset();
  layoutInputsChanged();
  didMoveToSuperview();
}

void UIView::layoutIfNeeded() {
  UIViewRef keep = shared_from_this();
  const uint64_t inputs = layoutInputs.load(std::memory_order_relaxed);
  if (solvedAt_ != inputs) {
    // A solve that moved a view changed the count: the next pass solves again until nothing moves.
    NSLayoutSolveSubviews(*this);
    solvedAt_ = layoutInputs.load(std::memory_order_relaxed) == inputs ? inputs : 0;
  }
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  // A copy: layout may add or remove subviews.
  auto children = subviews_;
  for (const auto& child : children) child->layoutIfNeeded();
}

void UIView::drawRect(const CGRect&) { baseDrawCalled_ = true; }

void UIView::displayIfNeeded() {
  if (!needsDisplay_) return;
  needsDisplay_ = false;
  // A GL view's content is its renderbuffer, never a drawn backing image.
  if (drawsNothing_ || std::dynamic_pointer_cast<CAEAGLLayer>(layer())) {
    backing_.reset();
    return;
  }
  int w = static_cast<int>(std::lround(bounds_.size.width * contentScaleFactor_));
  int h = static_cast<int>(std::lround(bounds_.size.height * contentScaleFactor_));
  backing_ = CGBitmapContext::create(w, h, contentScaleFactor_);
  if (!backing_) return;
  CGContextRef c = backing_->context();
  CGContextTranslateCTM(c, -bounds_.origin.x, -bounds_.origin.y);
  baseDrawCalled_ = false;
  UIGraphicsPushContext(c);
  try {
    drawRect(bounds_);
  } catch (...) {
    UIGraphicsPopContext();
    throw;
  }
  UIGraphicsPopContext();
  if (baseDrawCalled_) {
    drawsNothing_ = true;
    backing_.reset();
  }
}

CGPoint UIView::pointToSuperview(CGPoint p) const {
  CGPoint q{p.x - bounds_.origin.x - bounds_.size.width / 2, p.y - bounds_.origin.y - bounds_.size.height / 2};
  CGPoint t = CGPointApplyAffineTransform(q, transform_);
  return {center_.x + t.x, center_.y + t.y};
}

CGPoint UIView::pointFromSuperview(CGPoint p) const {
  CGPoint q{p.x - center_.x, p.y - center_.y};
  CGPoint t = CGPointApplyAffineTransform(q, CGAffineTransformInvert(transform_));
  return {t.x + bounds_.origin.x + bounds_.size.width / 2, t.y + bounds_.origin.y + bounds_.size.height / 2};
}

std::vector<const UIView*> UIView::ancestry() const {
  std::vector<const UIView*> chain;
  for (const UIView* v = this; v; ) {
    chain.push_back(v);
    auto parent = v->superview();
    v = parent.get();
  }
  return chain;
}

void UIView::convertPointsToView(CGPoint* points, size_t count, const UIView* view) const {
  if (view == this) return;
  // Up to the root; roots of different trees share one (screen) space.
  const auto chain = ancestry();
  for (size_t k = 0; k < count; ++k) {
    for (size_t i = 0; i + 1 < chain.size(); ++i) points[k] = chain[i]->pointToSuperview(points[k]);
  }
  if (!view) return;
  const auto target = view->ancestry();
  for (size_t k = 0; k < count; ++k) {
    for (size_t i = target.size() - 1; i-- > 0;) points[k] = target[i]->pointFromSuperview(points[k]);
  }
}

CGPoint UIView::convertPointToView(CGPoint point, const UIView* view) const {
  convertPointsToView(&point, 1, view);
  return point;
}

CGPoint UIView::convertPointFromView(CGPoint point, const UIView* view) const {
  if (view) return view->convertPointToView(point, this);
  auto chain = ancestry();
  for (size_t i = chain.size() - 1; i-- > 0;) point = chain[i]->pointFromSuperview(point);
  return point;
}

namespace {
CGRect boundingBox(const CGPoint (&p)[4]) {
  double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
  for (const auto& q : p) {
    x0 = std::min(x0, q.x); x1 = std::max(x1, q.x);
    y0 = std::min(y0, q.y); y1 = std::max(y1, q.y);
  }
  return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}
}  // namespace

CGRect UIView::convertRectToView(const CGRect& rectIn, const UIView* view) const {
  CGRect r = CGRectStandardize(rectIn);
  CGPoint p[4] = {r.origin, {CGRectGetMaxX(r), r.origin.y}, {r.origin.x, CGRectGetMaxY(r)},
                  {CGRectGetMaxX(r), CGRectGetMaxY(r)}};
  convertPointsToView(p, 4, view);
  return boundingBox(p);
}

bool UIView::pointInside(CGPoint point, const UIEvent*) const { return CGRectContainsPoint(bounds_, point); }

UIViewRef UIView::hitTest(CGPoint point, const UIEvent* event) {
  if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01 || !pointInside(point, event)) return nullptr;
  auto children = subviews_;
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (auto hit = (*it)->hitTest((*it)->pointFromSuperview(point), event)) return hit;
  }
  return shared_from_this();
}

void UIView::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  if (auto parent = superview()) parent->touchesBegan(touches, event);
}
void UIView::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  if (auto parent = superview()) parent->touchesMoved(touches, event);
}
void UIView::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
  if (auto parent = superview()) parent->touchesEnded(touches, event);
}
void UIView::touchesCancelled(const UITouchSet& touches, const UIEvent* event) {
  if (auto parent = superview()) parent->touchesCancelled(touches, event);
}

