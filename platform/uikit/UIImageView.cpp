#include "platform/uikit/UIImageView.h"

#include <algorithm>

UIImageView::UIImageView(UIImageRef image) : UIView() {
  setImage(std::move(image));
  if (image_) {
    CGSize s = image_->size();
    setFrame(CGRectMake(0, 0, s.width, s.height));
  }
}

void UIImageView::setImage(UIImageRef image) {
  image_ = std::move(image);
  setNeedsDisplay();
  invalidateIntrinsicContentSize();
}

void UIImageView::setContentMode(UIViewContentMode mode) {
  contentMode_ = mode;
  setNeedsDisplay();
}

CGRect UIImageView::imageRect() const {
  const CGRect b = bounds();
  if (!image_) return CGRectZero;
  const CGSize s = image_->size();
  if (s.width <= 0 || s.height <= 0) return CGRectZero;
  switch (contentMode_) {
    case UIViewContentMode::ScaleToFill: return b;
    case UIViewContentMode::Center:
      return CGRectMake(CGRectGetMidX(b) - s.width / 2, CGRectGetMidY(b) - s.height / 2, s.width, s.height);
    case UIViewContentMode::ScaleAspectFit: {
      const double k = std::min(b.size.width / s.width, b.size.height / s.height);
      const double w = s.width * k, h = s.height * k;
      return CGRectMake(CGRectGetMidX(b) - w / 2, CGRectGetMidY(b) - h / 2, w, h);
    }
  }
  return b;
}

CGSize UIImageView::intrinsicContentSize() const {
  return image_ ? image_->size() : CGSize{UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
}

void UIImageView::drawRect(const CGRect&) {
  if (image_) image_->drawInRectWithTint(imageRect(), tintColor());
}
