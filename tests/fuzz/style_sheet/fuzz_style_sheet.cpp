// A style sheet from a file, as the help page links it ("help.css" next to the page): read, its
// imports followed (it may import itself under any name, or "pipe.css", a FIFO next to it that
// nobody writes to, or a device), the page laid out and drawn with it. The sheet the engine is
// handed never holds a "/*" (the engine's own comment stripping would cut it wherever it stands),
// and is the same whichever line ends the sheet was saved with (CSS reads CR LF, CR and form feed
// as LF before anything else).
#include <cairo.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include <filesystem>
#include <fstream>

#include "platform/foundation/NSLog.h"
#include "platform/uikit/HTMLPageRenderer.h"
#include "platform/uikit/HTMLStyleSheets.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
constexpr const char* kPage =
    "<html><head><title>Help</title><link rel='stylesheet' href='help.css'></head><body>"
    "<h1 id='top'>Help</h1><p class='subtitle'>The analyser</p><h2>Levels</h2>"
    "<p>Text with <b>bold</b>, <i>italic</i> and <a href='#top'>a link</a>.</p>"
    "<ul><li>one</li><li>two</li></ul><table><tr><td>a</td><td>b</td></tr></table></body></html>";
// The sheet with every CR LF, CR and form feed read as LF.
std::string withLF(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i] == '\r' || text[i] == '\f' ? '\n' : text[i]);
  }
  return out;
}
// Runs of LF as one: a comment taken out from between a CR and a LF leaves them side by side, one
// line end where the sheet had two (only the count of blank lines differs).
std::string lineEndRunsAsOne(std::string text) {
  text.erase(std::unique(text.begin(), text.end(), [](char a, char b) { return a == '\n' && b == '\n'; }), text.end());
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto quiet = ns::setLogSink([](const std::string&) {});
  (void)quiet;
  static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 568, 320);
  static const std::string folder = [] {
    const std::string dir = fuzzsupport::privateHome() + "/help";
    std::filesystem::create_directories(dir);
    ::mkfifo((dir + "/pipe.css").c_str(), 0600);
    return dir;
  }();
  const std::string_view sheet = fuzzsupport::asText(data, size);
  const std::string stripped = HTMLStyleSheets::withoutComments(sheet);
  if (stripped.find("/*") != std::string::npos) fuzzsupport::broken("a comment opener reached the engine");
  if (lineEndRunsAsOne(withLF(stripped)) != lineEndRunsAsOne(HTMLStyleSheets::withoutComments(withLF(sheet))))
    fuzzsupport::broken("the sheet reads differently with other line ends");
  std::ofstream(folder + "/help.css", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  HTMLPageRenderer renderer;
  if (!renderer.load(kPage, folder)) return 0;
  renderer.layout({568, 320});
  cairo_t* cr = cairo_create(surface);
  renderer.draw(cr, {0, 0}, {568, 320});
  cairo_destroy(cr);
  (void)renderer.linkAt({20, 100});
  return 0;
}
