#pragma once
// Where drawn text leaves ink, for checks that a view draws its text whole: the same attributed
// string drawn unclipped into a large bitmap at a scale, and the inked columns and rows of an image.
// Header only: the support library does not link graphics, the programs that use this do.
#include <algorithm>
#include <functional>
#include <memory>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSAttributedString.h"

namespace textink {

// A run of columns or rows in pixels, [first, last]; empty when nothing is inked.
struct Span {
  int first = -1;
  int last = -1;
  bool empty() const { return last < first; }
  int size() const { return empty() ? 0 : last - first + 1; }
};

// Where an image holds ink: its inked columns and rows (pixels).
struct Ink {
  Span columns;
  Span rows;
  bool empty() const { return columns.empty(); }
};

// The ink `isInk` finds in the image's rectangle (pixels).
inline Ink inkIn(const CGBitmapContext& image, int x0, int y0, int width, int height,
                 const std::function<bool(const CGBitmapContext::RGBA&)>& isInk) {
  Ink ink;
  auto widen = [](Span& c, int at) {
    if (c.first < 0 || at < c.first) c.first = at;
    c.last = std::max(c.last, at);
  };
  for (int y = std::max(0, y0); y < std::min(image.height(), y0 + height); ++y) {
    for (int x = std::max(0, x0); x < std::min(image.width(), x0 + width); ++x) {
      if (!isInk(image.pixel(x, y))) continue;
      widen(ink.columns, x);
      widen(ink.rows, y);
    }
  }
  return ink;
}

// Ink over a transparent image: a pixel at least half covered.
inline bool opaqueInk(const CGBitmapContext::RGBA& p) { return p.a >= 128; }

// The ink of the text drawn with its layout's top-left corner at (0, 0) in a bitmap at `scale`,
// nothing clipped (`wrapWidth` > 0 wraps it at that width, as drawInContext does): pixels from that
// corner (a glyph that reaches left of it gives a negative first column). Drawn as the views draw
// text: into a bitmap context scaled by `scale`.
inline Ink unclippedInk(const NSAttributedString& text, double scale, double wrapWidth = 0) {
  constexpr double kMargin = 40;  // points around the text, for bearings and boxes that overhang
  const double widthPoints = 2 * kMargin + 48.0 * static_cast<double>(text.length() + 1);
  const double heightPoints = 2 * kMargin + 40.0 * static_cast<double>(text.length() + 1);
  auto bitmap = CGBitmapContext::create(static_cast<int>(widthPoints * scale), static_cast<int>(heightPoints * scale), scale);
  if (!bitmap) return {};
  text.drawInContext(bitmap->context(), {kMargin, kMargin}, wrapWidth);
  Ink ink = inkIn(*bitmap, 0, 0, bitmap->width(), bitmap->height(), opaqueInk);
  if (ink.empty()) return ink;
  const int origin = static_cast<int>(kMargin * scale);
  for (Span* c : {&ink.columns, &ink.rows}) {
    c->first -= origin;
    c->last -= origin;
  }
  return ink;
}

}  // namespace textink
