#pragma once
// Images loaded from PNG files: by path or by name from the application bundle.
#include <memory>
#include <string>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

class UIImage;
using UIImageRef = std::shared_ptr<const UIImage>;

enum class UIImageResizingMode { Tile, Stretch };
// How an image is drawn: as it is, or (template) as a shape painted in the tint colour of the view
// that shows it. Automatic draws as it is.
enum class UIImageRenderingMode { Automatic, AlwaysOriginal, AlwaysTemplate };

class UIImage {
 public:
  // None when the file is missing or not a readable PNG, or is past the limits of PNGFile.h (the
  // reason is logged).
  static UIImageRef imageWithContentsOfFile(const std::string& path);
  // A name from the main bundle's resources ("icon" or "icon.png"); a "name@2x.png" file is
  // preferred and gives an image of scale 2. None when no such resource exists.
  static UIImageRef imageNamed(const std::string& name);

  // resizableImageWithCapInsets:resizingMode: — a copy whose drawing keeps the caps (in points)
  // at their size and stretches (or tiles) the middle. Insets that do not fit the image are
  // reduced to fit; negative or non-finite insets count as 0.
  UIImageRef resizableImageWithCapInsets(const UIEdgeInsets& capInsets,
                                         UIImageResizingMode mode = UIImageResizingMode::Tile) const;
  const UIEdgeInsets& capInsets() const { return capInsets_; }
  bool isResizable() const { return resizable_; }
  // imageWithRenderingMode: — a copy drawn in the given mode.
  UIImageRef imageWithRenderingMode(UIImageRenderingMode mode) const;
  UIImageRenderingMode renderingMode() const { return renderingMode_; }

  ~UIImage();
  CGSize size() const;  // points: pixels divided by the scale
  int pixelWidth() const;
  int pixelHeight() const;
  cairo_surface_t* surface() const { return surface_; }

  // Draws the image into the rectangle of the current context: stretched as a whole, or for a
  // resizable image as nine parts with the caps kept at their size.
  void drawInRect(const CGRect& rect, double alpha = 1) const;
  // Draws as the rendering mode says: a template image with the tint colour (its pixels' alpha as
  // the shape), any other image as it is. A template drawn without a tint is drawn as it is.
  void drawInRectWithTint(const CGRect& rect, const UIColorRef& tint, double alpha = 1) const;

  UIImage(cairo_surface_t* surface, double scale);  // takes ownership of the surface

 private:
  cairo_surface_t* surface_;
  double scale_;
  UIEdgeInsets capInsets_{};
  UIImageResizingMode resizingMode_ = UIImageResizingMode::Stretch;
  bool resizable_ = false;
  UIImageRenderingMode renderingMode_ = UIImageRenderingMode::Automatic;
};
