#pragma once
// A view that shows one image, fitted into its bounds (scaled to fit with its proportions kept,
// centred, by default) or drawn at its own size in the centre. A template image takes the view's
// tint colour. Main thread only.
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIView.h"

enum class UIViewContentMode { ScaleToFill, ScaleAspectFit, Center };

class UIImageView : public UIView {
 public:
  UIImageView() = default;
  explicit UIImageView(const CGRect& frame) : UIView(frame) {}
  explicit UIImageView(UIImageRef image);

  UIImageRef image() const { return image_; }
  void setImage(UIImageRef image);
  void setContentMode(UIViewContentMode mode);

  // Where the image is drawn in the bounds (a zero rectangle without an image).
  CGRect imageRect() const;
  CGSize intrinsicContentSize() const override;
  void drawRect(const CGRect& rect) override;

 private:
  UIImageRef image_;
  UIViewContentMode contentMode_ = UIViewContentMode::ScaleAspectFit;
};
