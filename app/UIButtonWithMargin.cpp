#include "app/UIButtonWithMargin.h"

void UIButtonWithMargin::layoutSubviews() {
  UIButton::layoutSubviews();
  setTitleEdgeInsets(UIEdgeInsetsMake(0, 0, 0, 10));
  titleLabel()->setAdjustsFontSizeToFitWidth(true);
}
