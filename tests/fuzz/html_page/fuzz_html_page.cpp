// An HTML page from a file into the web view's renderer: the limits, parsing, layout at the
// phone's widths, drawing at a few scroll offsets, and following links and anchors.
#include <cairo.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/uikit/HTMLPageRenderer.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// The page's folder: no style sheets, and images a page may name in several ways: "big.png" (4096
// x 4096 pixels, the most one image may have) also as the link "alias.png" and the hard link
// "hard.png"; "other.png" and "third.png", files of their own as large; "small.png"; and
// "pipe.png" and "pipe.css", FIFOs that nobody writes to.
const std::string& pageFolder() {
  static const std::string folder = [] {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(fuzzsupport::privateHome()) / "page";
    fs::create_directories(dir);
    auto write = [&](const char* name, int side) {
      cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, side, side);
      cairo_surface_write_to_png(image, (dir / name).c_str());
      cairo_surface_destroy(image);
    };
    write("big.png", 4096);
    write("small.png", 8);
    fs::create_symlink(dir / "big.png", dir / "alias.png");
    fs::create_hard_link(dir / "big.png", dir / "hard.png");
    fs::copy_file(dir / "big.png", dir / "other.png");
    fs::copy_file(dir / "big.png", dir / "third.png");
    ::mkfifo((dir / "pipe.png").c_str(), 0600);
    ::mkfifo((dir / "pipe.css").c_str(), 0600);
    return dir.string();
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 568, 320);
  const std::string page(fuzzsupport::asText(data, size));
  HTMLPageRenderer renderer;
  if (!renderer.load(page, pageFolder())) return 0;
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
