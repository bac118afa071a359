#pragma once
// The bottom bar's setting button: a two-line title (a small caption over the value, for example
// "FFT SIZE" over "2048") on a stretchable background image, left-aligned with an inset that grows
// with the screen's width. Made by the main storyboard; main thread only.
#include <string>

#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIButton.h"

class UIButtonWithTwoLabels : public UIButton {
 public:
  // initWithCoder: — the background image "btnBackground" with caps 20, 50, 20, 50, stretched.
  explicit UIButtonWithTwoLabels(const CGRect& frame = CGRectZero);

  // Sets the background for the normal state, left alignment and the title inset (10 on screens
  // up to 480 points wide, 15 up to 568, 20 beyond), then lays out as a button does.
  void layoutSubviews() override;
  // "title1\ntitle2": the first line in the caption style, the line break and the second line in
  // the value style; both sizes by the screen's width.
  void setTitle1(const std::string& title1, const std::string& title2);

  UIImageRef btnBackground() const { return btnBackground_; }
  void setBtnBackground(UIImageRef image) { btnBackground_ = std::move(image); }

  // The left title inset for a screen width.
  static double titleInsetForScreenWidth(double width);

 private:
  UIImageRef btnBackground_;
};
