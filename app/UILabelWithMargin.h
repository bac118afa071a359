#pragma once
// A label that insets its text on small screens (up to 480 points wide): 6 points at the left and
// right and 2 at the bottom, so that text on a rounded background keeps clear of its edges.
#include "platform/uikit/UILabel.h"

class UILabelWithMargin : public UILabel {
 public:
  using UILabel::UILabel;
  void drawTextInRect(const CGRect& rect) override;
  // The rectangle the text goes into for a screen width.
  static CGRect textRectForScreenWidth(const CGRect& rect, double screenWidth);
};
