#include "app/UILabelWithMargin.h"

#include "platform/uikit/UIScreen.h"

CGRect UILabelWithMargin::textRectForScreenWidth(const CGRect& rect, double screenWidth) {
  if (screenWidth <= 480) return UIEdgeInsetsInsetRect(rect, UIEdgeInsetsMake(0, 6, 2, 6));
  return rect;
}

void UILabelWithMargin::drawTextInRect(const CGRect& rect) {
  UILabel::drawTextInRect(textRectForScreenWidth(rect, UIScreen::mainScreen().bounds().size.width));
}
