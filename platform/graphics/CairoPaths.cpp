#include "platform/graphics/CairoPaths.h"

#include <cairo.h>

#include <cmath>

void cairoAddRoundedRect(cairo_t* cr, double x, double y, double w, double h, double topLeft, double topRight,
                         double bottomRight, double bottomLeft) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - topRight, y + topRight, topRight, -M_PI / 2, 0);
  cairo_arc(cr, x + w - bottomRight, y + h - bottomRight, bottomRight, 0, M_PI / 2);
  cairo_arc(cr, x + bottomLeft, y + h - bottomLeft, bottomLeft, M_PI / 2, M_PI);
  cairo_arc(cr, x + topLeft, y + topLeft, topLeft, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}
