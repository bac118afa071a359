#pragma once
// A button: per-state titles (plain or attributed), title colours, images and background images,
// edge insets for title, image and content, horizontal alignment of the content, and its title
// label's font. It draws itself: the background image stretched over the bounds, then the image
// and the title side by side in the content rectangle. A value set for a state is used for that
// state, else the selected value when selected, else the normal one. The title is measured at the
// scale it is drawn at: in the drawing context when drawing, else at the button's
// contentScaleFactor.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/graphics/NSAttributedString.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIControl.h"
#include "platform/uikit/UILabel.h"

enum class UIButtonType { Custom, System };
enum class UIControlContentHorizontalAlignment { Center, Left, Right, Fill };

class UIButton : public UIControl {
 public:
  static std::shared_ptr<UIButton> buttonWithType(UIButtonType type);
  explicit UIButton(const CGRect& frame = CGRectZero, UIButtonType type = UIButtonType::Custom);

  void setTitle(std::optional<std::string> title, uint32_t state);
  std::optional<std::string> titleForState(uint32_t state) const;
  void setTitleColor(UIColorRef color, uint32_t state);
  UIColorRef titleColorForState(uint32_t state) const;
  void setAttributedTitle(NSAttributedStringRef title, uint32_t state);
  NSAttributedStringRef attributedTitleForState(uint32_t state) const;
  void setImage(UIImageRef image, uint32_t state);
  UIImageRef imageForState(uint32_t state) const;
  void setBackgroundImage(UIImageRef image, uint32_t state);
  UIImageRef backgroundImageForState(uint32_t state) const;

  // The values of the current state.
  std::optional<std::string> currentTitle() const { return titleForState(state()); }
  NSAttributedStringRef currentAttributedTitle() const { return attributedTitleForState(state()); }
  UIImageRef currentImage() const { return imageForState(state()); }
  UIImageRef currentBackgroundImage() const { return backgroundImageForState(state()); }

  UIEdgeInsets titleEdgeInsets() const { return titleEdgeInsets_; }
  void setTitleEdgeInsets(const UIEdgeInsets& insets);
  UIEdgeInsets contentEdgeInsets() const { return contentEdgeInsets_; }
  void setContentEdgeInsets(const UIEdgeInsets& insets);
  UIControlContentHorizontalAlignment contentHorizontalAlignment() const { return horizontalAlignment_; }
  void setContentHorizontalAlignment(UIControlContentHorizontalAlignment alignment);

  // The label that describes how the title is drawn (font, shrinking) and shows the current title.
  std::shared_ptr<UILabel> titleLabel() const { return titleLabel_; }

  // Where the title and the image are drawn for the current state, in view coordinates.
  CGRect titleRectForContentRect(const CGRect& contentRect) const;
  CGRect imageRectForContentRect(const CGRect& contentRect) const;
  CGRect contentRectForBounds(const CGRect& bounds) const;

  void drawRect(const CGRect& rect) override;
  CGSize intrinsicContentSize() const override;
  CGSize sizeThatFits(CGSize size) const override;
  void layoutSubviews() override;

 protected:
  void stateDidChange() override;

 private:
  template <class T>
  T lookup(const std::map<uint32_t, T>& values, uint32_t state) const;
  // The title as drawn in a title rectangle of the width (shrunk when the title label says so),
  // measured in `context` when one is given, else at the button's scale.
  NSAttributedString titleText(double width, CGContextRef context) const;
  CGSize titleSize() const;
  CGSize imageSize() const;
  void refreshLabel();

  UIButtonType type_;
  std::map<uint32_t, std::optional<std::string>> titles_;
  std::map<uint32_t, UIColorRef> titleColors_;
  std::map<uint32_t, NSAttributedStringRef> attributedTitles_;
  std::map<uint32_t, UIImageRef> images_;
  std::map<uint32_t, UIImageRef> backgroundImages_;
  UIEdgeInsets titleEdgeInsets_{}, contentEdgeInsets_{};
  UIControlContentHorizontalAlignment horizontalAlignment_ = UIControlContentHorizontalAlignment::Center;
  std::shared_ptr<UILabel> titleLabel_;
  // The title's measured size and what it was measured from (the scale too): layout asks for it on
  // every pass, and measuring text is the dear part of a pass.
  struct TitleSize {
    NSAttributedStringRef attributed;
    std::optional<std::string> title;
    UIFontRef font;
    double scale = 0;
    CGSize size{};
  };
  mutable std::optional<TitleSize> titleSize_;
};
