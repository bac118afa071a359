#pragma once
// Puts a view tree together into one image: runs the layout and display passes, then paints each
// visible view (background colour, its Cairo-drawn backing image or its GL layer's presented
// pixels, then its subviews) with its position, transform, alpha and clipping.
#include <memory>
#include <string>

#include "platform/uikit/UIView.h"

class UICompositor {
 public:
  // The tree rooted at `root`, at `scale` pixels per point (the root's content scale when 0).
  // None when the root has no area.
  static std::unique_ptr<CGBitmapContext> render(const UIViewRef& root, double scale = 0);
  // Renders and writes a PNG file; false with the reason in *error when it cannot.
  static bool writePNG(const UIViewRef& root, const std::string& path, std::string* error = nullptr,
                       double scale = 0);
};
