#pragma once
// Images loaded from PNG files: by path or by name from the application bundle.
#include <memory>
#include <string>

#include "platform/graphics/CGContext.h"

class UIImage;
using UIImageRef = std::shared_ptr<const UIImage>;

class UIImage {
 public:
  // None when the file is missing or not a readable PNG.
  static UIImageRef imageWithContentsOfFile(const std::string& path);
  // A name from the main bundle's resources ("icon" or "icon.png"); a "name@2x.png" file is
  // preferred and gives an image of scale 2. None when no such resource exists.
  static UIImageRef imageNamed(const std::string& name);

  ~UIImage();
  CGSize size() const;  // points: pixels divided by the scale
  double scale() const { return scale_; }
  int pixelWidth() const;
  int pixelHeight() const;
  cairo_surface_t* surface() const { return surface_; }

  // Draws the image stretched into the rectangle of the current context.
  void drawInRect(const CGRect& rect, double alpha = 1) const;
  void drawAtPoint(CGPoint point) const;

  UIImage(cairo_surface_t* surface, double scale);  // takes ownership of the surface

 private:
  cairo_surface_t* surface_;
  double scale_;
};
