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
  // Measured at a scale of 1 unless a context is given. Glyph advances depend on the scale the
  // text is drawn at (hinting works in device pixels, and a character no font has is drawn as a
  // box sized in them): whatever must line up with drawn text is measured in the context it is
  // drawn into, as it stands when the text is drawn.
  CGSize size(double width = 0, CGContextRef context = nullptr) const;
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
