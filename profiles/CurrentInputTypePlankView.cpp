#include "profiles/CurrentInputTypePlankView.h"

#include <algorithm>
#include <cmath>

#include <cairo.h>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSString.h"
#include "platform/graphics/NSAttributedString.h"
#include "profiles/InputProfilesService.h"

std::shared_ptr<CurrentInputTypePlankView> CurrentInputTypePlankView::initWithFrame(const CGRect& frame) {
  auto bar = std::make_shared<CurrentInputTypePlankView>(frame);
  bar->layer()->setCornerRadius(4.0);
  bar->setClipsToBounds(true);
  bar->setAlpha(0.7);
  bar->titleLabel()->setFont(UIFont::fontWithName("GothamPro-Medium", 14));
  bar->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
  if (auto logo = UIImage::imageNamed("micLogo")) {
    bar->setImage(logo->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate), UIControlStateNormal);
  }
  bar->setTintColor(UIColor::whiteColor());
  bar->setContentEdgeInsets(UIEdgeInsetsMake(0, 8, 0, 8));
  bar->setTitleEdgeInsets(UIEdgeInsetsMake(2, 0, 0, 0));
  std::weak_ptr<CurrentInputTypePlankView> weak = bar;
  // Held weakly; a change announced off the main thread is shown from the main queue.
  bar->profileObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      InputProfilesService::kCurrentProfileChanged, nullptr, nullptr, [weak](const NSNotification& n) {
        if (!NSRunLoop::isMainThread()) {
          DispatchQueue::main()->async([weak, n] {
            if (auto self = weak.lock()) self->updateProfileTitle(n);
          });
          return;
        }
        if (auto self = weak.lock()) self->updateProfileTitle(n);
      });
  return bar;
}

void CurrentInputTypePlankView::updateProfileTitle(const NSNotification& notification) {
  setHidden(false);
  auto profile = notification.userObject<InputProfile>(InputProfilesService::kNewProfileKey);
  if (!profile || !profile->inputDevice()) return;
  setTitle(ns::uppercase(profile->inputDevice()->shortTitle()), UIControlStateNormal);
}

namespace {
constexpr double kImageGap = 6;
}

CGSize CurrentInputTypePlankView::intrinsicContentSize() const {
  CGSize size = UIButton::intrinsicContentSize();
  if (currentImage() && currentTitle() && !currentTitle()->empty()) size.width += kImageGap;
  return size;
}

void CurrentInputTypePlankView::drawRect(const CGRect&) {
  const CGRect content = contentRectForBounds(bounds());
  const double alpha = isHighlighted() ? 0.6 : 1.0;
  auto image = currentImage();
  const CGSize imageSize = image ? image->size() : CGSize{0, 0};
  // The image at the right end, the title in the room left of it.
  if (image) {
    image->drawInRectWithTint(CGRectMake(CGRectGetMaxX(content) - imageSize.width,
                                         CGRectGetMidY(content) - imageSize.height / 2, imageSize.width,
                                         imageSize.height),
                              tintColor(), alpha);
  }
  if (!currentTitle() || currentTitle()->empty()) return;
  NSAttributes a;
  a.font = titleLabel()->font();
  a.foregroundColor = titleColorForState(state());
  NSAttributedString text(*currentTitle(), a);
  const UIEdgeInsets insets = titleEdgeInsets();
  const CGRect area = UIEdgeInsetsInsetRect(
      CGRectMake(content.origin.x, content.origin.y,
                 std::max(0.0, content.size.width - imageSize.width - (image ? kImageGap : 0)), content.size.height),
      insets);
  CGContextRef c = UIGraphicsGetCurrentContext();
  const CGSize size = text.size(0, c);
  CGContextSaveGState(c);
  CGContextBeginPath(c);
  CGContextAddRect(c, area);
  if (c) cairo_clip(c->cairo());
  text.drawAtPoint({area.origin.x, area.origin.y + (area.size.height - size.height) / 2});
  CGContextRestoreGState(c);
}
