#include "platform/uikit/UIWindow.h"

#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIViewController.h"

namespace {
std::weak_ptr<UIWindow> key;
}

UIWindow::UIWindow() : UIView(UIScreen::mainScreen().bounds()) {}
UIWindow::UIWindow(const CGRect& frame) : UIView(frame) {}

void UIWindow::makeKeyAndVisible() {
  key = std::static_pointer_cast<UIWindow>(shared_from_this());
  setHidden(false);
  if (visible_) return;
  visible_ = true;
  // The root's view is loaded only now, as the platform does: the application delegate's launch
  // work comes before the first screen's viewDidLoad.
  if (auto root = rootViewController_) {
    installRootView();
    root->beginAppearanceTransition(true, false);
    root->endAppearanceTransition();
  }
}

void UIWindow::installRootView() {
  UIViewRef v = rootViewController_->view();
  v->setFrame(bounds());
  v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  if (v->superview().get() != this) insertSubview(v, 0);
}

void UIWindow::setRootViewController(const std::shared_ptr<UIViewController>& controller) {
  if (controller == rootViewController_) return;
  auto old = rootViewController_;
  if (old && visible_) old->beginAppearanceTransition(false, false);
  if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
  if (old && visible_) old->endAppearanceTransition();
  rootViewController_ = controller;
  if (!controller) return;
  if (visible_) {
    installRootView();
    controller->beginAppearanceTransition(true, false);
    controller->endAppearanceTransition();
  }
}

std::shared_ptr<UIWindow> UIWindow::keyWindow() { return key.lock(); }
bool UIWindow::isKeyWindow() const { return key.lock().get() == this; }

void UIWindow::touchDown(CGPoint location, double timestamp) {
  if (touch_) touchCancel(timestamp);
  auto self = std::static_pointer_cast<UIWindow>(shared_from_this());
  auto touch = std::make_shared<UITouch>(self, location, timestamp);
  UIEvent event;
  auto target = hitTest(location, &event);
  if (!target) return;
  touch->setView(target);
  touch_ = touch;
  gestures_.began(target, touch, event);
}

void UIWindow::touchMove(CGPoint location, double timestamp) {
  if (!touch_) return;
  auto touch = touch_;
  touch->update(location, timestamp);
  UIEvent event;
  gestures_.moved(touch, event);
}

void UIWindow::touchUp(CGPoint location, double timestamp) {
  if (!touch_) return;
  auto touch = touch_;
  touch_.reset();
  touch->update(location, timestamp);
  UIEvent event;
  gestures_.ended(touch, event);
}

void UIWindow::touchCancel(double timestamp) {
  if (!touch_) return;
  auto touch = touch_;
  touch_.reset();
  touch->update(touch->windowLocation(), timestamp);
  UIEvent event;
  gestures_.cancelled(touch, event);
}
