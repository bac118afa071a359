#include "platform/graphics/NSStringDrawing.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <atomic>
#include <cmath>

#include "platform/graphics/TextMeasuring.h"

namespace {
// One point of font size is one unit of the drawing space, as on the phone.
constexpr double kResolution = 72.0;

PangoLayout* makeLayout(cairo_t* cr, const std::string& text, const NSTextAttributes& attributes) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoContext* pc = pango_layout_get_context(layout);
  pango_cairo_context_set_resolution(pc, kResolution);
  pango_layout_context_changed(layout);
  UIFontRef font = attributes.font ? attributes.font : UIFont::systemFontOfSize(12);
  PangoFontDescription* desc = pango_font_description_from_string(font->family().c_str());
  pango_font_description_set_weight(desc, static_cast<PangoWeight>(font->weight()));
  pango_font_description_set_style(desc, font->italic() ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_font_description_set_size(desc, static_cast<int>(font->pointSize() * PANGO_SCALE));
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  // Invalid UTF-8 would make Pango warn and draw nothing useful; it is drawn with replacements.
  if (g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr)) {
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  } else {
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    pango_layout_set_text(layout, valid, -1);
    g_free(valid);
  }
  return layout;
}

std::atomic<double> gDefaultMeasuringScale{1};

bool usableScale(double scale) { return scale > 0 && std::isfinite(scale); }
}  // namespace

void NSStringSetDefaultMeasuringScale(double scale) {
  gDefaultMeasuringScale.store(usableScale(scale) ? scale : 1, std::memory_order_relaxed);
}

double NSStringDefaultMeasuringScale() { return gDefaultMeasuringScale.load(std::memory_order_relaxed); }

cairo_t* textmeasuring::contextAtScale(double scale) {
  // One 1 x 1 surface a thread, its user space scaled anew for each measure: Pango hints in the
  // device space of the context a layout is made in, so this measures as drawing at `scale` does.
  thread_local struct Holder {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(surface);
    ~Holder() {
      cairo_destroy(cr);
      cairo_surface_destroy(surface);
    }
  } holder;
  cairo_identity_matrix(holder.cr);
  const double s = usableScale(scale) ? scale : NSStringDefaultMeasuringScale();
  cairo_scale(holder.cr, s, s);
  return holder.cr;
}

CGSize NSStringSizeWithAttributes(const std::string& text, const NSTextAttributes& attributes) {
  return NSStringSizeWithAttributesAtScale(text, attributes, NSStringDefaultMeasuringScale());
}

CGSize NSStringSizeWithAttributesAtScale(const std::string& text, const NSTextAttributes& attributes, double scale) {
  PangoLayout* layout = makeLayout(textmeasuring::contextAtScale(scale), text, attributes);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

void NSStringDrawAtPointInContext(CGContextRef context, const std::string& text, CGPoint point,
                                  const NSTextAttributes& attributes) {
  if (!context) return;
  cairo_t* cr = context->cairo();
  PangoLayout* layout = makeLayout(cr, text, attributes);
  cairo_save(cr);
  UIColorRef color = attributes.foregroundColor ? attributes.foregroundColor : UIColor::blackColor();
  auto c = color->components();
  cairo_set_source_rgba(cr, c[0], c[1], c[2], c[3]);
  cairo_move_to(cr, point.x, point.y - attributes.baselineOffset);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
}

void NSStringDrawAtPoint(const std::string& text, CGPoint point, const NSTextAttributes& attributes) {
  NSStringDrawAtPointInContext(UIGraphicsGetCurrentContext(), text, point, attributes);
}
