#pragma once
// Measuring and drawing a line of text with its attributes (font, colour, baseline offset), drawn
// by Pango into the current context.
//
// Text is as wide as the scale it is drawn at makes it: glyph advances are hinted in device
// pixels, and a character no font has is drawn as a box sized in them, so the same line is wider
// or narrower at two pixels a point than at one. A size that must hold or place drawn text is
// measured at the scale of the context the text is drawn into (a view: its contentScaleFactor).
#include <optional>
#include <string>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIFont.h"

// The text-drawing attributes the screens use (font, foreground colour, baseline offset).
struct NSTextAttributes {
  UIFontRef font;                        // none: the system font of 12 points
  UIColorRef foregroundColor;            // none: black
  double baselineOffset = 0;             // points; positive raises the text
};

// sizeWithAttributes: — the size of the text's line box in points, measured at the default
// measuring scale.
CGSize NSStringSizeWithAttributes(const std::string& text, const NSTextAttributes& attributes);
// The same, measured at `scale` pixels a point (one that is not positive and finite counts as the
// default measuring scale).
CGSize NSStringSizeWithAttributesAtScale(const std::string& text, const NSTextAttributes& attributes, double scale);

// The scale text is measured at where neither a context nor a scale is given: the main screen's,
// which the screen sets when it is made and whenever it is configured (graphics knows no screen);
// 1 until then. A scale that is not positive and finite is taken as 1. Any thread.
void NSStringSetDefaultMeasuringScale(double scale);
double NSStringDefaultMeasuringScale();
// drawAtPoint:withAttributes: — draws with the top-left corner of the line box at `point` in the
// current context; does nothing without one.
void NSStringDrawAtPoint(const std::string& text, CGPoint point, const NSTextAttributes& attributes);
// The same, into a given context.
void NSStringDrawAtPointInContext(CGContextRef context, const std::string& text, CGPoint point,
                                  const NSTextAttributes& attributes);
