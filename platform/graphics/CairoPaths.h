#pragma once
// Path shapes drawn straight into a Cairo context by the views and renderers that work below the
// Core Graphics calls.
typedef struct _cairo cairo_t;

// Adds a closed rectangle with rounded corners to the path as a new sub-path, clockwise from the
// top right corner. Each corner has its own radius; the caller keeps them within half the sides.
void cairoAddRoundedRect(cairo_t* cr, double x, double y, double w, double h, double topLeft, double topRight,
                         double bottomRight, double bottomLeft);

// The same with one radius for every corner.
inline void cairoAddRoundedRect(cairo_t* cr, double x, double y, double w, double h, double radius) {
  cairoAddRoundedRect(cr, x, y, w, h, radius, radius, radius, radius);
}
