// An HTML page from a file into the web view's renderer: the limits, parsing, layout at the
// phone's widths, drawing at a few scroll offsets, and following links and anchors.
#include <cairo.h>

#include <string>

#include "platform/uikit/HTMLPageRenderer.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 568, 320);
  const std::string page(fuzzsupport::asText(data, size));
  HTMLPageRenderer renderer;
  // Linked style sheets and images are looked for in a folder that holds none.
  if (!renderer.load(page, fuzzsupport::privateHome() + "/no-such-folder")) return 0;
  for (CGSize viewport : {CGSize{568, 320}, CGSize{320, 480}, CGSize{1, 0}}) {
    renderer.layout(viewport);
    const CGSize content = renderer.contentSize();
    cairo_t* cr = cairo_create(surface);
    for (double y : {0.0, content.height / 2, content.height - 10}) renderer.draw(cr, {0, y}, {568, 320});
    cairo_destroy(cr);
    (void)renderer.linkAt({20, 20});
    (void)renderer.anchorTop("top");
  }
  (void)renderer.title();
  return 0;
}
