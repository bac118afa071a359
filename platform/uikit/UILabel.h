#pragma once
// A label: one text (plain or attributed) drawn with a font, colour and alignment, centred
// vertically in its bounds. One line by default (numberOfLines 0: as many as the width needs);
// with adjustsFontSizeToFitWidth a line too wide is drawn smaller, down to minimumScaleFactor.
// Subclasses change where the text goes by overriding drawTextInRect. Text is measured at the scale
// it is drawn at: in the drawing context when drawing, else at the label's contentScaleFactor.
#include <optional>
#include <string>

#include "platform/graphics/NSAttributedString.h"
#include "platform/graphics/UIFont.h"
#include "platform/uikit/UIView.h"

class UILabel : public UIView {
 public:
  UILabel();
  explicit UILabel(const CGRect& frame);

  // The text; none and "" both draw nothing. Setting it replaces an attributed text.
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text);
  NSAttributedStringRef attributedText() const { return attributedText_; }
  void setAttributedText(NSAttributedStringRef text);
  UIFontRef font() const { return font_; }
  void setFont(UIFontRef font);  // none: the system font of 17 points
  UIColorRef textColor() const { return textColor_; }
  void setTextColor(UIColorRef color);  // none: black
  NSTextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(NSTextAlignment alignment);
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int lines);
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
  void setAdjustsFontSizeToFitWidth(bool adjusts);
  double minimumScaleFactor() const { return minimumScaleFactor_; }
  void setMinimumScaleFactor(double factor);

  // Draws the text into the rectangle (view coordinates).
  virtual void drawTextInRect(const CGRect& rect);
  void drawRect(const CGRect& rect) override;
  CGSize intrinsicContentSize() const override;
  CGSize sizeThatFits(CGSize size) const override;

  // The text as it would be drawn in a rectangle of the width (the font shrunk when it must be),
  // measured in `context` when one is given, else at the label's scale.
  NSAttributedString layoutText(double width, CGContextRef context = nullptr) const;

 private:
  std::optional<std::string> text_;
  NSAttributedStringRef attributedText_;
  UIFontRef font_;
  UIColorRef textColor_;
  NSTextAlignment alignment_ = NSTextAlignment::Left;
  int numberOfLines_ = 1;
  bool adjustsFontSize_ = false;
  double minimumScaleFactor_ = 0;
  // The text's size measured as drawn: in the context when one is given, else at the label's scale.
  CGSize measure(const NSAttributedString& text, double wrapWidth, CGContextRef context) const;
  // The text's natural size, measured once per text, font and line setting (at the label's scale,
  // which a view keeps for its life): every layout pass asks for it, and measuring text is the
  // dear part of a pass.
  mutable std::optional<CGSize> intrinsicSize_;
};
