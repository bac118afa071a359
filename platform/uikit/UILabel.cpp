#include "platform/uikit/UILabel.h"

#include <algorithm>
#include <cmath>

UILabel::UILabel() : UILabel(CGRectZero) {}

UILabel::UILabel(const CGRect& frame) : UIView(frame), font_(UIFont::systemFontOfSize(17)), textColor_(UIColor::blackColor()) {
  setUserInteractionEnabled(false);
}

void UILabel::setText(std::optional<std::string> text) {
  // Readouts set their text at every frame, mostly to what it already is: that redraws nothing
  // and lays nothing out again.
  if (!attributedText_ && text == text_) return;
  text_ = std::move(text);
  attributedText_.reset();
  setNeedsDisplay();
  // A size nobody read since it last changed (a label whose constraints fix its size) placed no
  // view: the solve need not run again for it.
  const bool sizeWasRead = intrinsicSize_.has_value();
  intrinsicSize_.reset();
  if (sizeWasRead) {
    invalidateIntrinsicContentSize();
  } else {
    invalidateUnreadIntrinsicContentSize();
  }
}

void UILabel::setAttributedText(NSAttributedStringRef text) {
  attributedText_ = std::move(text);
  text_ = attributedText_ ? std::optional<std::string>(attributedText_->string()) : std::nullopt;
  setNeedsDisplay();
  intrinsicSize_.reset();
  invalidateIntrinsicContentSize();
}

void UILabel::setFont(UIFontRef font) {
  font_ = font ? std::move(font) : UIFont::systemFontOfSize(17);
  setNeedsDisplay();
  intrinsicSize_.reset();
  invalidateIntrinsicContentSize();
}

void UILabel::setTextColor(UIColorRef color) {
  textColor_ = color ? std::move(color) : UIColor::blackColor();
  setNeedsDisplay();
}

void UILabel::setTextAlignment(NSTextAlignment alignment) {
  alignment_ = alignment;
  setNeedsDisplay();
}

void UILabel::setNumberOfLines(int lines) {
  numberOfLines_ = std::max(0, lines);
  setNeedsDisplay();
  intrinsicSize_.reset();
  invalidateIntrinsicContentSize();
}

void UILabel::setAdjustsFontSizeToFitWidth(bool adjusts) {
  adjustsFontSize_ = adjusts;
  setNeedsDisplay();
}

void UILabel::setMinimumScaleFactor(double factor) {
  minimumScaleFactor_ = std::isfinite(factor) ? std::clamp(factor, 0.0, 1.0) : 0;
  setNeedsDisplay();
}

CGSize UILabel::measure(const NSAttributedString& text, double wrapWidth, CGContextRef context) const {
  return context ? text.size(wrapWidth, context) : text.sizeAtScale(wrapWidth, contentScaleFactor());
}

NSAttributedString UILabel::layoutText(double width, CGContextRef context) const {
  if (attributedText_) return *attributedText_;
  NSAttributes a;
  a.font = font_;
  a.foregroundColor = textColor_;
  a.alignment = alignment_;
  NSAttributedString s(text_.value_or(""), a);
  if (adjustsFontSize_ && numberOfLines_ == 1 && width > 0) {
    double natural = measure(s, 0, context).width;
    if (natural > width) {
      double factor = std::max(width / natural, minimumScaleFactor_ > 0 ? minimumScaleFactor_ : 0.1);
      a.font = UIFont::fontWithName(font_->fontName(), font_->pointSize() * factor);
      return NSAttributedString(text_.value_or(""), a);
    }
  }
  return s;
}

void UILabel::drawTextInRect(const CGRect& rect) {
  if (!text_ || text_->empty() || rect.size.width <= 0 || rect.size.height <= 0) return;
  CGContextRef c = UIGraphicsGetCurrentContext();
  NSAttributedString s = layoutText(rect.size.width, c);
  double wrap = numberOfLines_ == 1 ? 0 : rect.size.width;
  CGSize size = measure(s, wrap, c);
  double x = rect.origin.x;
  NSTextAlignment align = s.attributesAtIndex(0).alignment.value_or(alignment_);
  if (wrap == 0) {
    if (align == NSTextAlignment::Center) x += (rect.size.width - size.width) / 2;
    if (align == NSTextAlignment::Right) x += rect.size.width - size.width;
  }
  // Centred vertically, as the platform's label draws one block of text.
  double y = rect.origin.y + (rect.size.height - size.height) / 2;
  s.drawInContext(c, {x, y}, wrap);
}

void UILabel::drawRect(const CGRect&) { drawTextInRect(bounds()); }

CGSize UILabel::sizeThatFits(CGSize size) const {
  if (!text_ || text_->empty()) return {0, 0};
  double wrap = numberOfLines_ == 1 ? 0 : size.width;
  CGSize s = measure(layoutText(0), wrap, nullptr);
  return {std::ceil(s.width), std::ceil(s.height)};
}

CGSize UILabel::intrinsicContentSize() const {
  if (!intrinsicSize_) intrinsicSize_ = sizeThatFits({0, 0});
  return *intrinsicSize_;
}
