// Draws the application's bundle images (resources/*.png) with Cairo. The PNG files are kept in
// the repository; run this only to change them:
//   g++ -std=c++20 scripts/make-images.cpp $(pkg-config --cflags --libs cairo) -o /tmp/make-images
//   /tmp/make-images resources
#include <array>
#include <string>

#include "image-drawing.h"

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "resources";
  bool ok = true;

  // The screen's background: deep indigo with a soft light from the upper middle.
  ok &= write(dir, "mainBackground", 568, 320, [](cairo_t* cr) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, 320);
    cairo_pattern_add_color_stop_rgb(g, 0, 0x1E / 255.0, 0x1B / 255.0, 0x42 / 255.0);
    cairo_pattern_add_color_stop_rgb(g, 1, 0x08 / 255.0, 0x07 / 255.0, 0x16 / 255.0);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
    cairo_pattern_t* r = cairo_pattern_create_radial(284, 40, 10, 284, 40, 330);
    cairo_pattern_add_color_stop_rgba(r, 0, 0x4F / 255.0, 0x4D / 255.0, 0xB8 / 255.0, 0.22);
    cairo_pattern_add_color_stop_rgba(r, 1, 0x4F / 255.0, 0x4D / 255.0, 0xB8 / 255.0, 0);
    cairo_set_source(cr, r);
    cairo_paint(cr);
    cairo_pattern_destroy(r);
  });

  // The setting buttons' background, stretched between caps of 20 (top, bottom) and 50 (sides).
  ok &= write(dir, "btnBackground", 120, 44, [](cairo_t* cr) {
    roundedRect(cr, 0.75, 0.75, 118.5, 42.5, 8);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, 44);
    cairo_pattern_add_color_stop_rgba(g, 0, 0x33 / 255.0, 0x30 / 255.0, 0x6E / 255.0, 0.95);
    cairo_pattern_add_color_stop_rgba(g, 1, 0x1A / 255.0, 0x18 / 255.0, 0x3C / 255.0, 0.95);
    cairo_set_source(cr, g);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(g);
    rgb(cr, 0x6E6BD8, 0.9);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    // A thin accent on the left edge.
    roundedRect(cr, 3.5, 12, 2, 20, 1);
    rgb(cr, 0x31F1E8, 0.9);
    cairo_fill(cr);
  });

  // The bottom bar's strip.
  ok &= write(dir, "bottomBarBackground", 40, 50, [](cairo_t* cr) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, 50);
    cairo_pattern_add_color_stop_rgba(g, 0, 0x0C / 255.0, 0x0B / 255.0, 0x20 / 255.0, 0.55);
    cairo_pattern_add_color_stop_rgba(g, 1, 0x05 / 255.0, 0x05 / 255.0, 0x10 / 255.0, 0.95);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
    cairo_rectangle(cr, 0, 0, 40, 1);
    rgb(cr, 0x4F4DB8, 0.8);
    cairo_fill(cr);
  });

  // Start (a play triangle) and stop (a square), 44 points.
  ok &= write(dir, "btnStart", 44, 44, [](cairo_t* cr) {
    plate(cr, 44, 0x31F1E8);
    cairo_move_to(cr, 17, 13);
    cairo_line_to(cr, 31, 22);
    cairo_line_to(cr, 17, 31);
    cairo_close_path(cr);
    rgb(cr, 0x31F1E8);
    cairo_fill(cr);
  });
  ok &= write(dir, "btnStop", 44, 44, [](cairo_t* cr) {
    plate(cr, 44, 0xFFFD00);
    roundedRect(cr, 15, 15, 14, 14, 2);
    rgb(cr, 0xFFFD00);
    cairo_fill(cr);
  });

  // Maximise (arrows out) and minimise (arrows in).
  auto arrows = [](cairo_t* cr, bool out) {
    plate(cr, 44, 0x9C80EF);
    rgb(cr, 0xFEFEFF);
    cairo_set_line_width(cr, 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (int q = 0; q < 4; ++q) {
      double sx = (q & 1) ? 1 : -1, sy = (q & 2) ? 1 : -1;
      double tipX = 22 + sx * (out ? 9 : 3), tipY = 22 + sy * (out ? 9 : 3);
      double inX = out ? -sx : sx, inY = out ? -sy : sy;
      cairo_move_to(cr, tipX + inX * 5, tipY);
      cairo_line_to(cr, tipX, tipY);
      cairo_line_to(cr, tipX, tipY + inY * 5);
      cairo_stroke(cr);
    }
  };
  ok &= write(dir, "btnMaximize", 44, 44, [&](cairo_t* cr) { arrows(cr, true); });
  ok &= write(dir, "btnMinimize", 44, 44, [&](cairo_t* cr) { arrows(cr, false); });

  // The aim (peak marker): a cross-hair, grey when off and yellow when on.
  auto aim = [](cairo_t* cr, unsigned color, unsigned ring) {
    plate(cr, 44, ring);
    rgb(cr, color);
    cairo_set_line_width(cr, 2);
    cairo_arc(cr, 22, 22, 8, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (auto [x0, y0, x1, y1] : {std::array<double, 4>{22, 9, 22, 16}, {22, 28, 22, 35}, {9, 22, 16, 22}, {28, 22, 35, 22}}) {
      cairo_move_to(cr, x0, y0);
      cairo_line_to(cr, x1, y1);
      cairo_stroke(cr);
    }
    cairo_arc(cr, 22, 22, 2, 0, 2 * M_PI);
    cairo_fill(cr);
  };
  ok &= write(dir, "btnAim", 44, 44, [&](cairo_t* cr) { aim(cr, 0x8C8AB8, 0x4F4DB8); });
  ok &= write(dir, "btnAimSelected", 44, 44, [&](cairo_t* cr) { aim(cr, 0xFFFD00, 0xFFFD00); });

  // The side menu: three bars.
  ok &= write(dir, "btnMenu", 44, 44, [](cairo_t* cr) {
    plate(cr, 44, 0x9C80EF);
    rgb(cr, 0xFEFEFF);
    cairo_set_line_width(cr, 2.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (double y : {15.5, 22.0, 28.5}) {
      cairo_move_to(cr, 14, y);
      cairo_line_to(cr, 30, y);
      cairo_stroke(cr);
    }
  });

  // The dB-A help: a small question mark in a ring.
  ok &= write(dir, "btnHelp", 24, 24, [](cairo_t* cr) {
    cairo_arc(cr, 12, 12, 9.5, 0, 2 * M_PI);
    rgb(cr, 0x14122E, 0.8);
    cairo_fill_preserve(cr);
    rgb(cr, 0x39F2E3);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    questionMark(cr, 12, 12);
  });

  // ---- The input profiles' images ----
  // Logos of inputs, 24 points, white on transparent: they are drawn as templates in the tint of
  // the view that shows them.
  auto white = [](cairo_t* cr) {
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  };
  // A microphone: capsule, holder and stand, centred on x.
  auto microphone = [&](cairo_t* cr, double x, double top, double scale) {
    white(cr);
    roundedRect(cr, x - 3.5 * scale, top, 7 * scale, 11 * scale, 3.5 * scale);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1.6);
    cairo_arc(cr, x, top + 7.5 * scale, 6 * scale, 0, M_PI);
    cairo_stroke(cr);
    cairo_move_to(cr, x, top + 13.5 * scale);
    cairo_line_to(cr, x, top + 17 * scale);
    cairo_move_to(cr, x - 3.5 * scale, top + 17 * scale);
    cairo_line_to(cr, x + 3.5 * scale, top + 17 * scale);
    cairo_stroke(cr);
  };
  ok &= write(dir, "micLogo", 24, 24, [&](cairo_t* cr) { microphone(cr, 12, 3, 1.0); });
  // The phone, with the microphone it names marked.
  auto phone = [&](cairo_t* cr, bool filledBack) {
    white(cr);
    cairo_set_line_width(cr, 1.6);
    roundedRect(cr, 7.5, 2.5, 9, 19, 2.2);
    if (filledBack) cairo_fill(cr);
    else cairo_stroke(cr);
  };
  ok &= write(dir, "frontMicLogo", 24, 24, [&](cairo_t* cr) {
    phone(cr, false);
    cairo_arc(cr, 12, 5.6, 1.4, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1.3);
    for (double r : {3.0, 5.2}) {
      cairo_arc(cr, 12, 5.6, r, M_PI * 1.15, M_PI * 1.85);
      cairo_stroke(cr);
    }
  });
  ok &= write(dir, "backMicLogo", 24, 24, [&](cairo_t* cr) {
    phone(cr, true);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_arc(cr, 10.5, 6, 1.7, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  });
  ok &= write(dir, "bottomMicLogo", 24, 24, [&](cairo_t* cr) {
    phone(cr, false);
    cairo_arc(cr, 12, 18.6, 1.4, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1.3);
    for (double r : {4.2, 6.4}) {
      cairo_arc(cr, 12, 18.6, r, M_PI * 0.2, M_PI * 0.8);
      cairo_stroke(cr);
    }
  });
  ok &= write(dir, "wiredMicLogo", 24, 24, [&](cairo_t* cr) {
    microphone(cr, 9.5, 2, 0.9);
    cairo_set_line_width(cr, 1.5);
    cairo_move_to(cr, 9.5, 17.3);
    cairo_curve_to(cr, 9.5, 23, 19, 22, 19, 15);
    cairo_line_to(cr, 19, 8);
    cairo_stroke(cr);
    roundedRect(cr, 17.5, 4, 3, 5, 0.8);
    cairo_fill(cr);
  });
  // Earbuds: a head and a stem, for the plain and the Pro model.
  auto earbud = [&](cairo_t* cr, double x, bool pro, bool mirrored) {
    white(cr);
    const double k = mirrored ? -1 : 1;
    cairo_save(cr);
    cairo_translate(cr, x, 0);
    cairo_scale(cr, k, 1);
    if (pro) {
      cairo_arc(cr, 0, 8, 4.2, 0, 2 * M_PI);
      cairo_fill(cr);
      roundedRect(cr, 1.2, 9, 2.6, 8, 1.3);
      cairo_fill(cr);
    } else {
      cairo_arc(cr, 0, 6.5, 3.6, 0, 2 * M_PI);
      cairo_fill(cr);
      roundedRect(cr, 1.4, 6.5, 2.4, 14, 1.2);
      cairo_fill(cr);
    }
    cairo_restore(cr);
  };
  ok &= write(dir, "airpodsLogo", 24, 24, [&](cairo_t* cr) {
    earbud(cr, 7, false, false);
    earbud(cr, 17, false, true);
  });
  ok &= write(dir, "airpodsProLogo", 24, 24, [&](cairo_t* cr) {
    cairo_translate(cr, 0, 2);
    earbud(cr, 6.5, true, false);
    earbud(cr, 17.5, true, true);
  });
  // Over-ear headphones: a band and two cups (square for the Max model, round otherwise).
  auto headphones = [&](cairo_t* cr, bool square) {
    white(cr);
    cairo_set_line_width(cr, 2);
    cairo_arc(cr, 12, 13, 8, M_PI, 2 * M_PI);
    cairo_stroke(cr);
    for (double x : {4.0, 20.0}) {
      if (square) roundedRect(cr, x - 3, 12, 6, 9, 2);
      else roundedRect(cr, x - 2.8, 12.5, 5.6, 8, 2.8);
      cairo_fill(cr);
    }
    if (square) {
      cairo_set_line_width(cr, 3);
      cairo_arc(cr, 12, 13, 8, M_PI * 1.25, M_PI * 1.75);
      cairo_stroke(cr);
    }
  };
  ok &= write(dir, "airpodsMaxLogo", 24, 24, [&](cairo_t* cr) { headphones(cr, true); });
  ok &= write(dir, "headphonesLogo", 24, 24, [&](cairo_t* cr) { headphones(cr, false); });

  // A row's edit button: a pencil, 20 points.
  ok &= write(dir, "editIcon", 20, 20, [&](cairo_t* cr) {
    white(cr);
    cairo_translate(cr, 10, 10);
    cairo_rotate(cr, M_PI / 4);
    roundedRect(cr, -2.6, -8, 5.2, 12, 1);
    cairo_fill(cr);
    cairo_move_to(cr, -2.6, 5);
    cairo_line_to(cr, 2.6, 5);
    cairo_line_to(cr, 0, 9);
    cairo_close_path(cr);
    cairo_fill(cr);
  });
  // Deleting a profile: a bin, 20 points.
  ok &= write(dir, "trashIcon", 20, 20, [&](cairo_t* cr) {
    white(cr);
    cairo_set_line_width(cr, 1.6);
    cairo_move_to(cr, 3, 5);
    cairo_line_to(cr, 17, 5);
    cairo_stroke(cr);
    roundedRect(cr, 7.5, 2, 5, 3, 1);
    cairo_stroke(cr);
    cairo_move_to(cr, 5, 5);
    cairo_line_to(cr, 6, 18);
    cairo_line_to(cr, 14, 18);
    cairo_line_to(cr, 15, 5);
    cairo_stroke(cr);
    for (double x : {8.5, 11.5}) {
      cairo_move_to(cr, x, 8);
      cairo_line_to(cr, x, 15);
      cairo_stroke(cr);
    }
  });
  // The tuning screen's live levels: start (a play triangle) and stop, 40 points, in the profile
  // screens' red.
  auto signalPlate = [](cairo_t* cr) {
    cairo_arc(cr, 20, 20, 18, 0, 2 * M_PI);
    rgb(cr, 0x111012);
    cairo_fill_preserve(cr);
    rgb(cr, 0xE5414F);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
  };
  ok &= write(dir, "btnSignalStart", 40, 40, [&](cairo_t* cr) {
    signalPlate(cr);
    cairo_move_to(cr, 16, 12.5);
    cairo_line_to(cr, 28, 20);
    cairo_line_to(cr, 16, 27.5);
    cairo_close_path(cr);
    rgb(cr, 0xE5414F);
    cairo_fill(cr);
  });
  ok &= write(dir, "btnSignalStop", 40, 40, [&](cairo_t* cr) {
    signalPlate(cr);
    roundedRect(cr, 14, 14, 12, 12, 2);
    rgb(cr, 0xE5414F);
    cairo_fill(cr);
  });

  return ok ? 0 : 1;
}
