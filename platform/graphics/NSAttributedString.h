#pragma once
// Text with attributes over ranges (font, colour, baseline offset, line spacing and alignment of
// the paragraph), measured and drawn by Pango as one layout of one or more lines. Ranges are in
// UTF-16 code units, as the platform counts them; an immutable value once built.
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSStringDrawing.h"

struct NSRange {
  size_t location = 0;
  size_t length = 0;
};
inline NSRange NSMakeRange(size_t location, size_t length) { return {location, length}; }

enum class NSTextAlignment { Left, Center, Right };

// The attributes of one range. Unset members leave the text's defaults (the system font of 12
// points, black, no offset).
struct NSAttributes {
  UIFontRef font;
  UIColorRef foregroundColor;
  std::optional<double> baselineOffset;
  // Paragraph style: extra space between lines (negative values count as 0, as the platform's
  // paragraph style keeps it non-negative) and alignment.
  std::optional<double> lineSpacing;
  std::optional<NSTextAlignment> alignment;
};

class NSAttributedString;
using NSAttributedStringRef = std::shared_ptr<const NSAttributedString>;

class NSAttributedString {
 public:
  explicit NSAttributedString(std::string text, const NSAttributes& attributes = {});

  const std::string& string() const { return text_; }
  size_t length() const;  // UTF-16 code units

  // addAttributes:range: — merges the set members into the range; a range reaching past the end
  // is cut at the end (the platform raises; a title built from outside text must not crash).
  void addAttributes(const NSAttributes& attributes, NSRange range);
  // The attributes in effect at a UTF-16 index (the merge of every run that covers it).
  NSAttributes attributesAtIndex(size_t index) const;

  // The size of the laid-out text in points; `width` > 0 wraps lines at that width.
  //
  // Glyph advances depend on the scale the text is drawn at (hinting works in device pixels, and a
  // character no font has is drawn as a box sized in them), and so do where lines wrap. Whatever
  // must hold or line up with drawn text is measured at the scale it is drawn at: in the context it
  // is drawn into, as it stands when the text is drawn; outside drawing, at the scale of the view
  // that will draw it (sizeAtScale with its contentScaleFactor). Without a context, size() measures
  // at the default measuring scale (NSStringDrawing.h: the main screen's).
  CGSize size(double width = 0, CGContextRef context = nullptr) const;
  // The size measured at `scale` pixels a point (one that is not positive and finite counts as the
  // default measuring scale).
  CGSize sizeAtScale(double width, double scale) const;
  // Where a caret standing before the UTF-16 index is drawn, in points from the left edge of the
  // unwrapped layout (the end of the text for an index past it): the text field's caret. Measured
  // as size() is.
  double caretOffset(size_t utf16Index, CGContextRef context = nullptr) const;
  // Draws with the layout's top-left corner at `point` in the current context; `width` > 0
  // wraps and aligns within that width.
  void drawAtPoint(CGPoint point, double width = 0) const;
  void drawInContext(CGContextRef context, CGPoint point, double width = 0) const;

 private:
  struct Run {
    size_t start = 0, end = 0;  // UTF-8 byte offsets
    NSAttributes attributes;
  };
  size_t byteOffset(size_t utf16Index) const;
  // The Pango layout of the text and its runs, made in `cr` (wrapped at `width` when > 0).
  struct Layout;
  void buildLayout(Layout& layout, cairo_t* cr, double width) const;
  std::string text_;
  std::vector<Run> runs_;
};
