// Draws the side menu's and the help screens' bundle images (resources/*.png) with Cairo, in the
// style of scripts/make-images.cpp. The PNG files are kept in the repository; run this only to
// change them:
//   g++ -std=c++20 scripts/make-side-menu-images.cpp $(pkg-config --cflags --libs cairo) -o /tmp/make-side-menu-images
//   /tmp/make-side-menu-images resources
#include <string>

#include "image-drawing.h"

namespace {

constexpr unsigned kIconNormal = 0xB4B2E0;
constexpr unsigned kIconSelected = 0x31F1E8;

// The menu's icons, 24 points: a spectrum line, octave bars, a sonogram's cells, a question mark.
void iconFFT(cairo_t* cr, unsigned color) {
  rgb(cr, color);
  cairo_set_line_width(cr, 1.8);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  const double pts[][2] = {{2, 19}, {5, 15}, {7, 17}, {9, 8}, {11, 13}, {13, 4}, {15, 14}, {18, 11}, {20, 16}, {22, 18}};
  cairo_move_to(cr, pts[0][0], pts[0][1]);
  for (const auto& p : pts) cairo_line_to(cr, p[0], p[1]);
  cairo_stroke(cr);
  cairo_move_to(cr, 2, 22);
  cairo_line_to(cr, 22, 22);
  rgb(cr, color, 0.5);
  cairo_set_line_width(cr, 1.2);
  cairo_stroke(cr);
}

void iconOctave(cairo_t* cr, unsigned color) {
  rgb(cr, color);
  const double heights[] = {8, 13, 18, 11, 15, 7};
  for (int i = 0; i < 6; ++i) {
    roundedRect(cr, 2 + i * 3.5, 22 - heights[i], 2.6, heights[i], 0.8);
    cairo_fill(cr);
  }
}

void iconSpectrograph(cairo_t* cr, unsigned color) {
  const double levels[4][4] = {{0.25, 0.5, 0.35, 0.2}, {0.5, 1.0, 0.7, 0.4}, {0.35, 0.8, 1.0, 0.55}, {0.6, 0.45, 0.75, 0.9}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      roundedRect(cr, 2.5 + c * 5, 2.5 + r * 5, 4, 4, 1);
      rgb(cr, color, levels[r][c]);
      cairo_fill(cr);
    }
  }
}

void iconHelp(cairo_t* cr, unsigned color) {
  rgb(cr, color);
  cairo_set_line_width(cr, 1.8);
  cairo_arc(cr, 12, 12, 9.5, 0, 2 * M_PI);
  cairo_stroke(cr);
  questionMark(cr, 12, 12);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "resources";
  bool ok = true;

  // The menu panel: the screen's indigo, a little lighter, with a glow from the upper right.
  ok &= write(dir, "menuBackground", 320, 320, [](cairo_t* cr) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, 320);
    cairo_pattern_add_color_stop_rgb(g, 0, 0x24 / 255.0, 0x20 / 255.0, 0x52 / 255.0);
    cairo_pattern_add_color_stop_rgb(g, 1, 0x0D / 255.0, 0x0C / 255.0, 0x22 / 255.0);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
    cairo_pattern_t* r = cairo_pattern_create_radial(300, 10, 10, 300, 10, 260);
    cairo_pattern_add_color_stop_rgba(r, 0, 0x9C / 255.0, 0x80 / 255.0, 0xEF / 255.0, 0.20);
    cairo_pattern_add_color_stop_rgba(r, 1, 0x9C / 255.0, 0x80 / 255.0, 0xEF / 255.0, 0);
    cairo_set_source(cr, r);
    cairo_paint(cr);
    cairo_pattern_destroy(r);
  });

  // The selected entry: a soft cyan plate with an accent on its left edge (caps 12 and 20).
  ok &= write(dir, "menuItemSelected", 120, 44, [](cairo_t* cr) {
    roundedRect(cr, 0.75, 0.75, 118.5, 42.5, 10);
    rgb(cr, 0x31F1E8, 0.13);
    cairo_fill_preserve(cr);
    rgb(cr, 0x31F1E8, 0.55);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    roundedRect(cr, 4, 12, 3, 20, 1.5);
    rgb(cr, 0x31F1E8);
    cairo_fill(cr);
  });

  struct Icon {
    const char* name;
    void (*draw)(cairo_t*, unsigned);
  };
  for (const Icon& icon : {Icon{"menuFFT", iconFFT}, Icon{"menuOctave", iconOctave},
                           Icon{"menuSpectrograph", iconSpectrograph}, Icon{"menuHelp", iconHelp}}) {
    ok &= write(dir, icon.name, 24, 24, [&](cairo_t* cr) { icon.draw(cr, kIconNormal); });
    ok &= write(dir, std::string(icon.name) + "Selected", 24, 24, [&](cairo_t* cr) { icon.draw(cr, kIconSelected); });
  }

  // Close (the dB chart page): a cross on the round glass plate of the screen's buttons.
  ok &= write(dir, "btnClose", 44, 44, [](cairo_t* cr) {
    plate(cr, 44, 0x9C80EF);
    rgb(cr, 0xFEFEFF);
    cairo_set_line_width(cr, 2.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, 16, 16);
    cairo_line_to(cr, 28, 28);
    cairo_move_to(cr, 28, 16);
    cairo_line_to(cr, 16, 28);
    cairo_stroke(cr);
  });

  return ok ? 0 : 1;
}
