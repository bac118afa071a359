#pragma once
// A button whose title keeps 10 points from its right edge and shrinks its font to fit.
#include "platform/uikit/UIButton.h"

class UIButtonWithMargin : public UIButton {
 public:
  using UIButton::UIButton;
  void layoutSubviews() override;
};
