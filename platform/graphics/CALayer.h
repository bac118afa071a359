#pragma once
// The backing layer of a view: its size in points and the scale to pixels. A GL view's layer
// (CAEAGLLayer) is the drawable its renderbuffer storage comes from and keeps the last presented
// image for the compositor.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

class UIImage;

class CALayer {
 public:
  virtual ~CALayer() = default;

  CGRect bounds() const { return bounds_; }
  void setBounds(const CGRect& bounds) { bounds_ = bounds; }
  double contentsScale() const { return contentsScale_; }
  void setContentsScale(double scale) { contentsScale_ = scale > 0 ? scale : 1; }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius) { cornerRadius_ = radius; }
  // An image shown as the layer's content, stretched over its bounds, under the view's own
  // drawing and subviews (the layer's "contents"). None: no image.
  std::shared_ptr<const UIImage> contents() const { return contents_; }
  void setContents(std::shared_ptr<const UIImage> image) { contents_ = std::move(image); }

  // The shadow under the layer: colour, opacity (0, the default, shows none), offset and blur
  // radius in points. It takes the shape of the shadow path, a rectangle in the layer's
  // coordinates; without a path there is no shadow (the compositor does not trace contents).
  UIColorRef shadowColor() const { return shadowColor_; }
  void setShadowColor(UIColorRef color) { shadowColor_ = std::move(color); }
  double shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(double opacity) { shadowOpacity_ = opacity; }
  CGSize shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
  double shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(double radius) { shadowRadius_ = radius; }
  const std::optional<CGRect>& shadowPath() const { return shadowPath_; }
  void setShadowPath(std::optional<CGRect> path) { shadowPath_ = path; }

 private:
  CGRect bounds_{};
  double contentsScale_ = 1;
  bool opaque_ = false;
  double cornerRadius_ = 0;
  std::shared_ptr<const UIImage> contents_;
  UIColorRef shadowColor_ = UIColor::blackColor();
  double shadowOpacity_ = 0;
  CGSize shadowOffset_{0, -3};
  double shadowRadius_ = 3;
  std::optional<CGRect> shadowPath_;
};

class CAEAGLLayer : public CALayer {
 public:
  // Pixel size of renderbuffer storage made from this layer: its bounds times its scale, rounded.
  int drawableWidth() const;
  int drawableHeight() const;

  // The last presented image: RGBA bytes (premultiplied by the blending the drawing used, as the
  // phone's compositor takes it), rows from the top unless bottomFirst, and in the order B, G, R, A
  // when bgra (as a GL view draws it when the renderer can; the compositor takes either).
  struct Presented {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    uint64_t count = 0;  // how many presents so far
    bool bottomFirst = false;
    bool bgra = false;
    // The bytes of row y counted from the top.
    const uint8_t* row(int y) const {
      return rgba.data() + static_cast<size_t>(bottomFirst ? height - 1 - y : y) * static_cast<size_t>(width) * 4;
    }
  };
  // The image with its rows from the top, in RGBA order (turned and reordered first when it was
  // read otherwise).
  const Presented& presented() const {
    upright();
    return presented_;
  }
  Presented& mutablePresented() {
    upright();
    return presented_;
  }
  // The image as it was read: GL reads rows bottom first, and the compositor takes them in either
  // order and either byte order, so the image is turned and reordered only for those who need it
  // upright and in RGBA. Main thread only, as the
  // lazily turning accessors above.
  const Presented& presentedAsRead() const { return presented_; }
  Presented& presentedForReadBack() { return presented_; }

 private:
  void upright() const;
  mutable Presented presented_;
};
