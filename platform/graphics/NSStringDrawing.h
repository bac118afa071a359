#pragma once
// Measuring and drawing a line of text with its attributes (font, colour, baseline offset), drawn
// by Pango into the current context.
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

// sizeWithAttributes: — the size of the text's line box in points.
CGSize NSStringSizeWithAttributes(const std::string& text, const NSTextAttributes& attributes);
// drawAtPoint:withAttributes: — draws with the top-left corner of the line box at `point` in the
// current context; does nothing without one.
void NSStringDrawAtPoint(const std::string& text, CGPoint point, const NSTextAttributes& attributes);
// The same, into a given context.
void NSStringDrawAtPointInContext(CGContextRef context, const std::string& text, CGPoint point,
                                  const NSTextAttributes& attributes);
