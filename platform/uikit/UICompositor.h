#pragma once
// Puts a view tree together into one image: runs the layout and display passes, then paints each
// visible view (background colour, its Cairo-drawn backing image or its GL layer's presented
// pixels, then its subviews) with its position, transform, alpha and clipping.
//
// render() composes the whole tree into a new image. A UICompositor object keeps the frame it
// composed last and, frame after frame, repaints only the rectangles that changed: those of the
// views marked for display since the previous frame, of GL layers that presented since, and of
// views that moved, resized, appeared, disappeared or changed how they are painted (alpha,
// background, transform, order, clipping, shadow, layer contents). The pixels inside a repainted
// rectangle are those render() gives.
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/UIView.h"

class UICompositor {
 public:
  // The tree rooted at `root`, at `scale` pixels per point (the root's content scale when 0).
  // None when the root has no area.
  static std::unique_ptr<CGBitmapContext> render(const UIViewRef& root, double scale = 0);
  // Renders and writes a PNG file; false with the reason in *error when it cannot.
  static bool writePNG(const UIViewRef& root, const std::string& path, std::string* error = nullptr,
                       double scale = 0);

  // A rectangle of device pixels.
  struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PixelRect&) const = default;
  };

  UICompositor();
  ~UICompositor();
  UICompositor(const UICompositor&) = delete;
  UICompositor& operator=(const UICompositor&) = delete;

  // Brings the kept frame up to date with the tree and returns the rectangles it repainted (none
  // when nothing changed). The first frame, a new size or scale, or invalidate() repaint it whole.
  const std::vector<PixelRect>& update(const UIViewRef& root, double scale = 0);
  // The kept frame; none before the first update or while the root has no area.
  const CGBitmapContext* frame() const { return frame_.get(); }
  // The next update repaints the whole frame.
  void invalidate() { full_ = true; }

  // Pixels of the caller's to compose into in place of a frame of the compositor's own (Cairo's
  // premultiplied ARGB32, rows `stride` bytes apart). An update composes into them when its frame
  // has their size and comes out opaque in every pixel (a view paints an opaque background over
  // all of it), as a desktop window that shows its frame over black wants; into a frame of its
  // own otherwise. Pixels it did not compose into last are repainted whole. The caller keeps them
  // alive, and writes nothing into them, until it sets another target (none: `Target{}`).
  struct Target {
    uint8_t* pixels = nullptr;
    int width = 0, height = 0, stride = 0;
    bool operator==(const Target&) const = default;
  };
  void setTarget(const Target& target);
  // Whether the kept frame is the target's pixels.
  bool framesIntoTarget() const { return frame_ && inTarget_; }

  struct State;

 private:
  // A frame of the size and scale, made anew (and the next update whole) when they changed; false
  // when none can be made.
  bool ensureFrame(int width, int height, double scale, bool intoTarget);
  std::unique_ptr<CGBitmapContext> frame_;
  Target target_;
  bool inTarget_ = false;  // frame_ is over target_'s pixels
  double scale_ = 0;
  bool full_ = true;
  std::vector<PixelRect> damage_;
  std::unique_ptr<State> state_;
};
