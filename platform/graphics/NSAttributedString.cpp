#include "platform/graphics/NSAttributedString.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSString.h"
#include "platform/graphics/TextMeasuring.h"

namespace {
constexpr double kResolution = 72.0;  // one point of font size is one unit of drawing space

void merge(NSAttributes& into, const NSAttributes& from) {
  if (from.font) into.font = from.font;
  if (from.foregroundColor) into.foregroundColor = from.foregroundColor;
  if (from.baselineOffset) into.baselineOffset = from.baselineOffset;
  if (from.lineSpacing) into.lineSpacing = from.lineSpacing;
  if (from.alignment) into.alignment = from.alignment;
}

PangoFontDescription* describe(const UIFontRef& fontIn) {
  UIFontRef font = fontIn ? fontIn : UIFont::systemFontOfSize(12);
  PangoFontDescription* desc = pango_font_description_from_string(font->family().c_str());
  pango_font_description_set_weight(desc, static_cast<PangoWeight>(font->weight()));
  pango_font_description_set_style(desc, font->italic() ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_font_description_set_size(desc, static_cast<int>(font->pointSize() * PANGO_SCALE));
  return desc;
}

uint16_t channel(double v) { return static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 65535)); }
}  // namespace

NSAttributedString::NSAttributedString(std::string text, const NSAttributes& attributes) : text_(std::move(text)) {
  if (!g_utf8_validate(text_.c_str(), static_cast<gssize>(text_.size()), nullptr)) {
    gchar* valid = g_utf8_make_valid(text_.c_str(), static_cast<gssize>(text_.size()));
    text_ = valid;
    g_free(valid);
  }
  runs_.push_back({0, text_.size(), attributes});
}

size_t NSAttributedString::length() const { return ns::utf16Length(text_); }

size_t NSAttributedString::byteOffset(size_t utf16Index) const {
  size_t units = 0, i = 0;
  while (i < text_.size() && units < utf16Index) {
    unsigned char c = static_cast<unsigned char>(text_[i]);
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    units += n == 4 ? 2 : 1;
    i = std::min(text_.size(), i + n);
  }
  return i;
}

void NSAttributedString::addAttributes(const NSAttributes& attributes, NSRange range) {
  size_t start = byteOffset(range.location);
  size_t end = byteOffset(range.location + std::min(range.length, length()));
  if (end <= start) return;
  runs_.push_back({start, end, attributes});
}

NSAttributes NSAttributedString::attributesAtIndex(size_t index) const {
  size_t b = byteOffset(index);
  NSAttributes out;
  for (const auto& run : runs_) {
    if ((b >= run.start && b < run.end) || (run.start == 0 && run.end == 0)) merge(out, run.attributes);
  }
  return out;
}

struct NSAttributedString::Layout {
  PangoLayout* layout = nullptr;
  ~Layout() {
    if (layout) g_object_unref(layout);
  }
};

// Builds the Pango layout: the first run's attributes are the defaults, later runs override their
// ranges; the paragraph attributes are those in effect at the start of the text.
static void build(PangoLayout*& out, cairo_t* cr, const std::string& text, const std::vector<NSAttributes>& attrs,
                  const std::vector<std::pair<size_t, size_t>>& ranges, double width) {
  out = pango_cairo_create_layout(cr);
  pango_cairo_context_set_resolution(pango_layout_get_context(out), kResolution);
  pango_layout_context_changed(out);
  pango_layout_set_text(out, text.c_str(), static_cast<int>(text.size()));
  PangoAttrList* list = pango_attr_list_new();
  NSAttributes paragraph;
  for (size_t i = 0; i < attrs.size(); ++i) {
    const NSAttributes& a = attrs[i];
    // Plain copies: clang before 16 cannot capture structured bindings in the lambda below.
    const auto start = ranges[i].first;
    const auto end = ranges[i].second;
    if (start == 0) {
      if (a.lineSpacing) paragraph.lineSpacing = a.lineSpacing;
      if (a.alignment) paragraph.alignment = a.alignment;
    }
    auto add = [&](PangoAttribute* attr) {
      attr->start_index = static_cast<guint>(start);
      attr->end_index = static_cast<guint>(end);
      pango_attr_list_insert(list, attr);
    };
    if (a.font || i == 0) {
      PangoFontDescription* desc = describe(a.font);
      add(pango_attr_font_desc_new(desc));
      pango_font_description_free(desc);
    }
    UIColorRef color = a.foregroundColor ? a.foregroundColor : (i == 0 ? UIColor::blackColor() : nullptr);
    if (color) {
      auto c = color->components();
      add(pango_attr_foreground_new(channel(c[0]), channel(c[1]), channel(c[2])));
      add(pango_attr_foreground_alpha_new(std::max<uint16_t>(1, channel(c[3]))));
    }
    if (a.baselineOffset && std::isfinite(*a.baselineOffset)) {
      add(pango_attr_rise_new(static_cast<int>(*a.baselineOffset * PANGO_SCALE)));
    }
  }
  pango_layout_set_attributes(out, list);
  pango_attr_list_unref(list);
  double spacing = paragraph.lineSpacing && std::isfinite(*paragraph.lineSpacing) ? std::max(0.0, *paragraph.lineSpacing) : 0;
  pango_layout_set_spacing(out, static_cast<int>(spacing * PANGO_SCALE));
  if (width > 0 && std::isfinite(width)) {
    pango_layout_set_width(out, static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(out, PANGO_WRAP_WORD_CHAR);
  }
  PangoAlignment align = PANGO_ALIGN_LEFT;
  if (paragraph.alignment == NSTextAlignment::Center) align = PANGO_ALIGN_CENTER;
  if (paragraph.alignment == NSTextAlignment::Right) align = PANGO_ALIGN_RIGHT;
  pango_layout_set_alignment(out, align);
}

void NSAttributedString::buildLayout(Layout& layout, cairo_t* cr, double width) const {
  std::vector<NSAttributes> attrs;
  std::vector<std::pair<size_t, size_t>> ranges;
  for (const auto& r : runs_) {
    attrs.push_back(r.attributes);
    ranges.emplace_back(r.start, r.end);
  }
  build(layout.layout, cr, text_, attrs, ranges, width);
}

// Where a measure is made: in the drawing context when one is given, else at the default scale.
static cairo_t* measuringContext(CGContextRef context) {
  return context ? context->cairo() : textmeasuring::contextAtScale(NSStringDefaultMeasuringScale());
}

static CGSize logicalSize(PangoLayout* layout) {
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

CGSize NSAttributedString::size(double width, CGContextRef context) const {
  Layout l;
  buildLayout(l, measuringContext(context), width);
  return logicalSize(l.layout);
}

CGSize NSAttributedString::sizeAtScale(double width, double scale) const {
  Layout l;
  buildLayout(l, textmeasuring::contextAtScale(scale), width);
  return logicalSize(l.layout);
}

double NSAttributedString::caretOffset(size_t utf16Index, CGContextRef context) const {
  Layout l;
  buildLayout(l, measuringContext(context), 0);
  PangoRectangle strong;
  pango_layout_get_cursor_pos(l.layout, static_cast<int>(byteOffset(utf16Index)), &strong, nullptr);
  return static_cast<double>(strong.x) / PANGO_SCALE;
}

void NSAttributedString::drawInContext(CGContextRef context, CGPoint point, double width) const {
  if (!context) return;
  cairo_t* cr = context->cairo();
  Layout l;
  buildLayout(l, cr, width);
  cairo_save(cr);
  cairo_move_to(cr, point.x, point.y);
  pango_cairo_show_layout(cr, l.layout);
  cairo_restore(cr);
}

void NSAttributedString::drawAtPoint(CGPoint point, double width) const {
  drawInContext(UIGraphicsGetCurrentContext(), point, width);
}
