#include "platform/uikit/UIButton.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

std::shared_ptr<UIButton> UIButton::buttonWithType(UIButtonType type) {
  return std::make_shared<UIButton>(CGRectZero, type);
}

UIButton::UIButton(const CGRect& frame, UIButtonType type) : UIControl(frame), type_(type) {
  titleLabel_ = std::make_shared<UILabel>();
  titleLabel_->setFont(UIFont::systemFontOfSize(type == UIButtonType::System ? 15 : 18));
  titleColors_[UIControlStateNormal] =
      type == UIButtonType::System ? UIColor::colorWithRed(0, 0.478, 1, 1) : UIColor::whiteColor();
}

template <class T>
T UIButton::lookup(const std::map<uint32_t, T>& values, uint32_t state) const {
  if (auto it = values.find(state); it != values.end() && it->second) return it->second;
  if (state & UIControlStateSelected) {
    if (auto it = values.find(UIControlStateSelected); it != values.end() && it->second) return it->second;
  }
  if (auto it = values.find(UIControlStateNormal); it != values.end()) return it->second;
  return T{};
}

void UIButton::refreshLabel() {
  if (auto attributed = currentAttributedTitle()) {
    titleLabel_->setAttributedText(attributed);
  } else {
    titleLabel_->setText(currentTitle());
  }
  titleLabel_->setTextColor(titleColorForState(state()));
  setNeedsDisplay();
  invalidateIntrinsicContentSize();
}

void UIButton::stateDidChange() { refreshLabel(); }

void UIButton::setTitle(std::optional<std::string> title, uint32_t state) {
  titles_[state] = std::move(title);
  refreshLabel();
}
std::optional<std::string> UIButton::titleForState(uint32_t state) const { return lookup(titles_, state); }

void UIButton::setTitleColor(UIColorRef color, uint32_t state) {
  titleColors_[state] = std::move(color);
  refreshLabel();
}
UIColorRef UIButton::titleColorForState(uint32_t state) const { return lookup(titleColors_, state); }

void UIButton::setAttributedTitle(NSAttributedStringRef title, uint32_t state) {
  attributedTitles_[state] = std::move(title);
  refreshLabel();
}
NSAttributedStringRef UIButton::attributedTitleForState(uint32_t state) const {
  return lookup(attributedTitles_, state);
}

void UIButton::setImage(UIImageRef image, uint32_t state) {
  images_[state] = std::move(image);
  refreshLabel();
}
UIImageRef UIButton::imageForState(uint32_t state) const { return lookup(images_, state); }

void UIButton::setBackgroundImage(UIImageRef image, uint32_t state) {
  // Setting the image a state already has changes nothing; a layout pass that sets it again must
  // not mark the button for another pass (and another drawing) every frame.
  if (auto it = backgroundImages_.find(state); it != backgroundImages_.end() && it->second == image) return;
  backgroundImages_[state] = std::move(image);
  setNeedsDisplay();
  invalidateIntrinsicContentSize();  // the button is at least as large as its background image
}
UIImageRef UIButton::backgroundImageForState(uint32_t state) const { return lookup(backgroundImages_, state); }

void UIButton::setTitleEdgeInsets(const UIEdgeInsets& insets) {
  if (insets == titleEdgeInsets_) return;
  titleEdgeInsets_ = insets;
  setNeedsDisplay();
}
void UIButton::setContentEdgeInsets(const UIEdgeInsets& insets) {
  if (insets == contentEdgeInsets_) return;
  contentEdgeInsets_ = insets;
  setNeedsDisplay();
  invalidateIntrinsicContentSize();
}
void UIButton::setContentHorizontalAlignment(UIControlContentHorizontalAlignment alignment) {
  if (alignment == horizontalAlignment_) return;
  horizontalAlignment_ = alignment;
  setNeedsDisplay();
}

NSAttributedString UIButton::titleText(double width, CGContextRef context) const {
  if (auto attributed = currentAttributedTitle()) return *attributed;
  NSAttributes a;
  a.font = titleLabel_->font();
  a.foregroundColor = titleColorForState(state());
  NSAttributedString s(currentTitle().value_or(""), a);
  if (titleLabel_->adjustsFontSizeToFitWidth() && width > 0) {
    double natural = (context ? s.size(0, context) : s.sizeAtScale(0, contentScaleFactor())).width;
    if (natural > width) {
      double floor = titleLabel_->minimumScaleFactor() > 0 ? titleLabel_->minimumScaleFactor() : 0.1;
      a.font = UIFont::fontWithName(a.font->fontName(), a.font->pointSize() * std::max(width / natural, floor));
      return NSAttributedString(currentTitle().value_or(""), a);
    }
  }
  return s;
}

CGSize UIButton::titleSize() const {
  NSAttributedStringRef attributed = currentAttributedTitle();
  std::optional<std::string> title = currentTitle();
  if (!attributed && (!title || title->empty())) return {0, 0};
  UIFontRef font = titleLabel_->font();
  const double scale = contentScaleFactor();
  if (!titleSize_ || titleSize_->attributed != attributed || titleSize_->title != title || titleSize_->font != font ||
      titleSize_->scale != scale) {
    titleSize_ = TitleSize{attributed, title, font, scale, titleText(0, nullptr).sizeAtScale(0, scale)};
  }
  return titleSize_->size;
}

CGSize UIButton::imageSize() const {
  auto image = currentImage();
  return image ? image->size() : CGSize{0, 0};
}

CGRect UIButton::contentRectForBounds(const CGRect& b) const { return UIEdgeInsetsInsetRect(b, contentEdgeInsets_); }

// The image and the title sit side by side (image first), the pair aligned as the content
// alignment says; the title keeps within its own insets.
CGRect UIButton::imageRectForContentRect(const CGRect& content) const {
  CGSize image = imageSize(), title = titleSize();
  double total = image.width + title.width;
  double x = content.origin.x;
  switch (horizontalAlignment_) {
    case UIControlContentHorizontalAlignment::Center: x += (content.size.width - total) / 2; break;
    case UIControlContentHorizontalAlignment::Right: x += content.size.width - total; break;
    default: break;
  }
  return CGRectMake(x, content.origin.y + (content.size.height - image.height) / 2, image.width, image.height);
}

CGRect UIButton::titleRectForContentRect(const CGRect& content) const {
  CGSize image = imageSize();
  CGRect area = UIEdgeInsetsInsetRect(content, titleEdgeInsets_);
  double available = std::max(0.0, area.size.width - image.width);
  CGSize title = titleSize();
  double width = std::min(title.width, available);
  double x = area.origin.x + image.width;
  switch (horizontalAlignment_) {
    case UIControlContentHorizontalAlignment::Center: x = area.origin.x + (area.size.width - image.width - width) / 2 + image.width; break;
    case UIControlContentHorizontalAlignment::Right: x = CGRectGetMaxX(area) - width; break;
    case UIControlContentHorizontalAlignment::Fill: width = available; break;
    default: break;
  }
  return CGRectMake(x, area.origin.y + (area.size.height - title.height) / 2, width, title.height);
}

void UIButton::drawRect(const CGRect&) {
  const double alpha = isHighlighted() && !images_.count(UIControlStateHighlighted) ? 0.6 : (isEnabled() ? 1.0 : 0.45);
  const CGRect b = bounds();
  if (auto background = currentBackgroundImage()) background->drawInRect(b, alpha);
  const CGRect content = contentRectForBounds(b);
  if (auto image = currentImage()) image->drawInRectWithTint(imageRectForContentRect(content), tintColor(), alpha);
  if (currentAttributedTitle() || (currentTitle() && !currentTitle()->empty())) {
    CGRect r = titleRectForContentRect(content);
    CGContextRef c = UIGraphicsGetCurrentContext();
    NSAttributedString text = titleText(r.size.width, c);
    CGSize size = text.size(0, c);
    // Centred on the title rectangle vertically (a multi-line title by its whole block).
    CGContextSaveGState(c);
    if (c) {
      // Clip to the content so a long title does not draw over the button's edges.
      CGContextBeginPath(c);
      CGContextAddRect(c, content);
      cairo_clip(c->cairo());
    }
    double y = r.origin.y + (r.size.height - size.height) / 2;
    if (alpha < 1 && c) cairo_push_group(c->cairo());
    text.drawAtPoint({r.origin.x, y});
    if (alpha < 1 && c) {
      cairo_pop_group_to_source(c->cairo());
      cairo_paint_with_alpha(c->cairo(), alpha);
    }
    CGContextRestoreGState(c);
  }
}

CGSize UIButton::sizeThatFits(CGSize) const {
  CGSize image = imageSize(), title = titleSize();
  double w = image.width + title.width + contentEdgeInsets_.left + contentEdgeInsets_.right;
  double h = std::max(image.height, title.height) + contentEdgeInsets_.top + contentEdgeInsets_.bottom;
  if (auto background = currentBackgroundImage()) {
    w = std::max(w, background->size().width);
    h = std::max(h, background->size().height);
  }
  return {std::ceil(w), std::ceil(h)};
}

CGSize UIButton::intrinsicContentSize() const { return sizeThatFits({0, 0}); }

void UIButton::layoutSubviews() { setNeedsDisplay(); }
