// What the image scripts (make-images.cpp, make-side-menu-images.cpp) draw with: colours, shapes
// and writing one "@2x" PNG. Included by both, so their images keep one look.
#pragma once

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

namespace {

// Every image is drawn at two pixels per point ("@2x").
constexpr double kScale = 2;

void rgb(cairo_t* cr, unsigned hex, double alpha = 1) {
  cairo_set_source_rgba(cr, ((hex >> 16) & 0xff) / 255.0, ((hex >> 8) & 0xff) / 255.0, (hex & 0xff) / 255.0, alpha);
}

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// Draws an image of w by h points and writes it to dir/name@2x.png, saying which it wrote.
bool write(const std::string& dir, const std::string& name, double w, double h, const std::function<void(cairo_t*)>& draw) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(w * kScale), int(h * kScale));
  cairo_t* cr = cairo_create(s);
  cairo_scale(cr, kScale, kScale);
  draw(cr);
  cairo_destroy(cr);
  std::string path = dir + "/" + name + "@2x.png";
  bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
  return ok;
}

// A round glass plate behind the small icons, so they read over the chart.
void plate(cairo_t* cr, double size, unsigned ring) {
  double c = size / 2, r = size / 2 - 3;
  cairo_arc(cr, c, c, r, 0, 2 * M_PI);
  rgb(cr, 0x14122E, 0.78);
  cairo_fill_preserve(cr);
  rgb(cr, ring, 0.9);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

// A bold question mark centred on (x, y), in the current source.
void questionMark(cairo_t* cr, double x, double y) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 13);
  cairo_text_extents_t e;
  cairo_text_extents(cr, "?", &e);
  cairo_move_to(cr, x - e.width / 2 - e.x_bearing, y - e.height / 2 - e.y_bearing);
  cairo_show_text(cr, "?");
}

}  // namespace
