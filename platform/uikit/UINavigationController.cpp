#include "platform/uikit/UINavigationController.h"

#include <algorithm>

#include "platform/uikit/UIScreen.h"

std::shared_ptr<UINavigationController> UINavigationController::initWithRootViewController(
    const UIViewControllerRef& root) {
  auto nav = std::make_shared<UINavigationController>();
  if (root) nav->setViewControllers({root});
  return nav;
}

void UINavigationController::loadView() {
  auto root = std::make_shared<UIView>(UIScreen::mainScreen().bounds());
  root->setBackgroundColor(UIColor::blackColor());
  bar_ = std::make_shared<UIView>(CGRectMake(0, 0, root->bounds().size.width, kNavigationBarHeight));
  bar_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
  bar_->setBackgroundColor(UIColor::colorWithRed(0x14 / 255.0, 0x12 / 255.0, 0x2E / 255.0, 0.96));
  barTitle_ = std::make_shared<UILabel>(CGRectMake(80, 0, root->bounds().size.width - 160, kNavigationBarHeight));
  barTitle_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
  barTitle_->setTextAlignment(NSTextAlignment::Center);
  barTitle_->setTextColor(UIColor::whiteColor());
  barTitle_->setFont(UIFont::fontWithName("Avenir-Heavy", 17));
  bar_->addSubview(barTitle_);
  backButton_ = std::make_shared<UIButton>(CGRectMake(4, 0, 90, kNavigationBarHeight));
  backButton_->setTitle("\u2039 Back", UIControlStateNormal);
  backButton_->setTitleColor(UIColor::colorWithRed(0x31 / 255.0, 0xF1 / 255.0, 0xE8 / 255.0, 1), UIControlStateNormal);
  backButton_->setContentHorizontalAlignment(UIControlContentHorizontalAlignment::Left);
  std::weak_ptr<UINavigationController> weak = std::static_pointer_cast<UINavigationController>(shared_from_this());
  backButton_->addAction(
      [weak](UIControl&) {
        if (auto nav = weak.lock()) nav->popViewControllerAnimated(true);
      },
      UIControlEventTouchUpInside);
  bar_->addSubview(backButton_);
  rightButton_ = std::make_shared<UIButton>(CGRectMake(root->bounds().size.width - 64, 0, 60, kNavigationBarHeight));
  rightButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
  rightButton_->setTitleColor(UIColor::colorWithRed(0x31 / 255.0, 0xF1 / 255.0, 0xE8 / 255.0, 1), UIControlStateNormal);
  rightButton_->setContentHorizontalAlignment(UIControlContentHorizontalAlignment::Right);
  rightButton_->setHidden(true);
  rightButton_->addAction(
      [weak](UIControl&) {
        auto nav = weak.lock();
        auto top = nav ? nav->topViewController() : nullptr;
        if (!top) return;
        if (auto item = top->navigationItem()->rightBarButtonItem()) item->performAction();
      },
      UIControlEventTouchUpInside);
  bar_->addSubview(rightButton_);
  root->addSubview(bar_);
  setView(root);
}

void UINavigationController::setBarBackgroundColor(UIColorRef color) {
  barBackground_ = std::move(color);
  if (bar_ && barBackground_) bar_->setBackgroundColor(barBackground_);
}

void UINavigationController::setBarTintColor(UIColorRef color) {
  barTint_ = std::move(color);
  if (!barTint_ || !backButton_) return;
  backButton_->setTitleColor(barTint_, UIControlStateNormal);
  rightButton_->setTitleColor(barTint_, UIControlStateNormal);
  rightButton_->setTintColor(barTint_);
}

void UINavigationController::viewDidLoad() {
  setBarBackgroundColor(barBackground_);
  setBarTintColor(barTint_);
  showTop();
  updateBar();
}

CGRect UINavigationController::contentFrame() const {
  if (!isViewLoaded()) return UIScreen::mainScreen().bounds();
  CGRect b = const_cast<UINavigationController*>(this)->view()->bounds();
  if (barHidden_) return b;
  return CGRectMake(b.origin.x, b.origin.y + kNavigationBarHeight, b.size.width,
                    std::max(0.0, b.size.height - kNavigationBarHeight));
}

void UINavigationController::updateBar() {
  if (!bar_) return;
  bar_->setHidden(barHidden_);
  auto top = topViewController();
  barTitle_->setText(top ? top->title() : "");
  backButton_->setHidden(stack_.size() < 2);
  auto item = top ? top->navigationItem()->rightBarButtonItem() : nullptr;
  rightButton_->setHidden(!item);
  if (item) {
    const bool add = item->systemItem() == UIBarButtonSystemItem::Add;
    rightButton_->setTitle(item->image() ? std::optional<std::string>() : std::optional<std::string>(item->title()),
                           UIControlStateNormal);
    rightButton_->setImage(item->image(), UIControlStateNormal);
    rightButton_->titleLabel()->setFont(UIFont::fontWithName("Avenir-Medium", add ? 30 : 17));
    rightButton_->setContentEdgeInsets(UIEdgeInsetsMake(0, 0, add ? 4 : 0, 8));
    rightButton_->setEnabled(item->isEnabled());
  }
  view()->bringSubviewToFront(bar_);
}

void UINavigationController::showTop() {
  auto top = topViewController();
  if (!top || !isViewLoaded()) return;
  UIViewRef v = top->view();
  v->setFrame(contentFrame());
  v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  if (v->superview() != view()) view()->insertSubview(v, 0);
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool) {
  barHidden_ = hidden;
  if (!isViewLoaded()) return;
  if (auto top = topViewController(); top && top->isViewLoaded()) top->view()->setFrame(contentFrame());
  updateBar();
}

void UINavigationController::setViewControllers(const std::vector<UIViewControllerRef>& controllers, bool animated) {
  auto oldTop = topViewController();
  for (const auto& c : stack_) {
    if (std::find(controllers.begin(), controllers.end(), c) == controllers.end()) {
      c->willMoveToParentViewController(nullptr);
      if (c != oldTop && c->isViewLoaded()) c->view()->removeFromSuperview();
      c->removeFromParentViewController();
    }
  }
  stack_.clear();
  auto self = shared_from_this();
  for (const auto& c : controllers) {
    if (!c || std::find(stack_.begin(), stack_.end(), c) != stack_.end()) continue;
    addChildViewController(c);
    stack_.push_back(c);
    c->didMoveToParentViewController(self);
  }
  auto newTop = topViewController();
  if (isViewLoaded() && newTop != oldTop) transition(oldTop, newTop, true, animated);
  if (isViewLoaded()) updateBar();
}

void UINavigationController::transition(const UIViewControllerRef& from, const UIViewControllerRef& to, bool push,
                                        bool animated) {
  const bool visible = isVisible();
  if (to) to->loadViewIfNeeded();  // the incoming view loads before anyone hears of the change
  if (visible) {
    if (from) from->beginAppearanceTransition(false, animated);
    if (to) to->beginAppearanceTransition(true, animated);
  }
  CGRect frame = contentFrame();
  if (to) {
    UIViewRef v = to->view();
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (v->superview() != view()) view()->insertSubview(v, view()->subviews().size());
  }
  updateBar();
  std::weak_ptr<UINavigationController> weak = std::static_pointer_cast<UINavigationController>(shared_from_this());
  auto finish = [weak, from, to, visible](bool) {
    auto nav = weak.lock();
    if (from && (!nav || nav->topViewController() != from) && from->isViewLoaded()) from->view()->removeFromSuperview();
    if (visible) {
      if (from) from->endAppearanceTransition();
      if (to) to->endAppearanceTransition();
    }
  };
  if (!animated || !from || !to) {
    if (to) to->view()->setFrame(frame);
    finish(true);
    return;
  }
  double w = frame.size.width;
  CGRect offRight = CGRectMake(frame.origin.x + w, frame.origin.y, w, frame.size.height);
  CGRect offLeft = CGRectMake(frame.origin.x - w * 0.3, frame.origin.y, w, frame.size.height);
  UIViewRef toView = to->view(), fromView = from->view();
  if (push) {
    toView->setFrame(offRight);
    fromView->setFrame(frame);
  } else {
    toView->setFrame(offLeft);
    view()->insertSubview(toView, 0);
  }
  UIView::animateWithDuration(kTransitionDuration, 0, UIViewAnimationOptionCurveEaseOut, [&] {
    toView->setFrame(frame);
    fromView->setFrame(push ? offLeft : offRight);
  }, finish);
}

void UINavigationController::pushViewController(const UIViewControllerRef& controller, bool animated) {
  if (!controller || std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) return;
  auto from = topViewController();
  addChildViewController(controller);
  stack_.push_back(controller);
  controller->didMoveToParentViewController(shared_from_this());
  if (isViewLoaded()) transition(from, controller, true, animated);
}

UIViewControllerRef UINavigationController::popViewControllerAnimated(bool animated) {
  if (stack_.size() < 2) return nullptr;
  auto from = stack_.back();
  stack_.pop_back();
  from->willMoveToParentViewController(nullptr);
  if (isViewLoaded()) transition(from, topViewController(), false, animated);
  from->removeFromParentViewController();
  return from;
}

std::vector<UIViewControllerRef> UINavigationController::popToRootViewControllerAnimated(bool animated) {
  std::vector<UIViewControllerRef> popped;
  if (stack_.size() < 2) return popped;
  auto from = stack_.back();
  popped.assign(stack_.begin() + 1, stack_.end());
  stack_.resize(1);
  for (const auto& c : popped) {
    c->willMoveToParentViewController(nullptr);
    if (c != from && c->isViewLoaded()) c->view()->removeFromSuperview();
  }
  if (isViewLoaded()) transition(from, topViewController(), false, animated);
  for (const auto& c : popped) c->removeFromParentViewController();
  return popped;
}
