#pragma once
// Core Graphics drawing over Cairo: the context that drawRect: draws into, its path and state
// calls, and bitmap contexts that own their pixels.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

class CGContext;
using CGContextRef = CGContext*;

// A drawing context over a Cairo context. Stroke and fill colours are kept apart (Cairo has one
// source) and survive save/restore like the rest of the graphics state.
class CGContext {
 public:
  explicit CGContext(cairo_t* cr);  // borrows cr (referenced for the context's lifetime)
  ~CGContext();
  CGContext(const CGContext&) = delete;
  CGContext& operator=(const CGContext&) = delete;

  cairo_t* cairo() const { return cr_; }

  struct State {
    UIColorRef stroke = UIColor::blackColor();
    UIColorRef fill = UIColor::blackColor();
    bool antialias = true;
  };
  State& state() { return states_.back(); }
  void save();
  void restore();

 private:
  cairo_t* cr_;
  std::vector<State> states_{State{}};
};

// The current context: pushed around every drawRect: by the view's display pass.
CGContextRef UIGraphicsGetCurrentContext();
void UIGraphicsPushContext(CGContextRef context);
void UIGraphicsPopContext();

void CGContextSaveGState(CGContextRef c);
void CGContextRestoreGState(CGContextRef c);
void CGContextScaleCTM(CGContextRef c, double sx, double sy);
void CGContextTranslateCTM(CGContextRef c, double tx, double ty);
void CGContextSetLineWidth(CGContextRef c, double width);
void CGContextSetStrokeColorWithColor(CGContextRef c, const UIColorRef& color);
void CGContextSetFillColorWithColor(CGContextRef c, const UIColorRef& color);
void CGContextSetRGBFillColor(CGContextRef c, double r, double g, double b, double a);
void CGContextSetShouldAntialias(CGContextRef c, bool antialias);
void CGContextBeginPath(CGContextRef c);
void CGContextMoveToPoint(CGContextRef c, double x, double y);
void CGContextAddLineToPoint(CGContextRef c, double x, double y);
void CGContextAddRect(CGContextRef c, const CGRect& rect);
void CGContextStrokePath(CGContextRef c);  // strokes and empties the path
void CGContextFillPath(CGContextRef c);    // fills (non-zero) and empties the path
void CGContextFillRect(CGContextRef c, const CGRect& rect);
// Makes the rectangle fully transparent.
void CGContextClearRect(CGContextRef c, const CGRect& rect);

// A context that owns an ARGB image of widthPx × heightPx pixels, cleared to transparent. `scale`
// pixels make one unit of the drawing space.
class CGBitmapContext {
 public:
  // None for a size that is not positive or too large to allocate.
  static std::unique_ptr<CGBitmapContext> create(int widthPx, int heightPx, double scale = 1);
  // Over pixels the caller owns and keeps alive while the context lives: Cairo's premultiplied
  // ARGB32, rows `stride` bytes apart (a multiple of 4, at least the width's 4 bytes a pixel).
  // None for a size or stride that cannot be.
  static std::unique_ptr<CGBitmapContext> createForData(uint8_t* pixels, int widthPx, int heightPx, int stride,
                                                        double scale = 1);
  ~CGBitmapContext();

  CGContextRef context() { return context_.get(); }
  cairo_surface_t* surface() const { return surface_; }
  int width() const { return width_; }
  int height() const { return height_; }

  struct RGBA {
    uint8_t r, g, b, a;
    bool operator==(const RGBA&) const = default;
  };
  // The pixel at (x, y) from the top-left corner, un-premultiplied; transparent outside the image.
  RGBA pixel(int x, int y) const;
  // Writes a PNG file; false (and the reason in *error) when it cannot be written.
  bool writePNG(const std::string& path, std::string* error = nullptr) const;

 private:
  CGBitmapContext() = default;
  cairo_surface_t* surface_ = nullptr;
  std::unique_ptr<CGContext> context_;
  int width_ = 0, height_ = 0;
};
