#include "platform/uikit/HTMLPageImages.h"

#include <cairo.h>

#include <algorithm>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/graphics/PNGFile.h"
#include "platform/uikit/HTMLPageRenderer.h"

HTMLPageImages::~HTMLPageImages() { startPage(); }

void HTMLPageImages::startPage() {
  for (auto& [file, surface] : byFile_) {
    if (surface) cairo_surface_destroy(surface);
  }
  byFile_.clear();
  byPath_.clear();
  pixels_ = 0;
}

cairo_surface_t* HTMLPageImages::image(const std::string& path, const std::string& reference) {
  // A spelling met before costs a look-up: the page draws its backgrounds at every frame.
  if (auto known = byPath_.find(path); known != byPath_.end()) return known->second;
  cairo_surface_t* surface = nullptr;
  if (const auto file = htmlpage::fileIdentity(path)) {
    auto decoded = byFile_.find(*file);
    if (decoded == byFile_.end()) decoded = byFile_.emplace(*file, decode(path, reference)).first;
    surface = decoded->second;
  } else {
    NSLog("HTMLPageRenderer: image %s not loaded: no such file", reference.c_str());
  }
  byPath_.emplace(path, surface);
  return surface;
}

cairo_surface_t* HTMLPageImages::decode(const std::string& path, const std::string& reference) {
  const int64_t left = HTMLPageRenderer::kMaxPageImagePixels - pixels_;
  std::string error;
  cairo_surface_t* surface = nullptr;
  // One bounded read that never waits (a FIFO or a device the page names is refused unread); the
  // header and the decoder then look at the same bytes.
  std::string bytes, why;
  switch (ns::readFile(path, png::kMaxFileBytes, &bytes, &why)) {
    case ns::FileRead::Read: {
      // An image within the limit of one but beyond what the page has left is refused as such;
      // the decoder checks the header again, against both limits.
      const auto size = png::headerSize(bytes);
      if (size && size->width > 0 && size->height > 0 && size->width <= HTMLPageRenderer::kMaxImagePixels / size->height &&
          size->width * size->height > left) {
        error = "the page's images would take more than " + std::to_string(HTMLPageRenderer::kMaxPageImagePixels) +
                " pixels in all (this one is " + std::to_string(size->width) + " x " + std::to_string(size->height) + ")";
      } else {
        surface = png::decodeSurface(bytes, &error, std::min(HTMLPageRenderer::kMaxImagePixels, left));
      }
      break;
    }
    case ns::FileRead::Missing: error = "no such file"; break;
    case ns::FileRead::TooLarge: error = "the file is larger than " + std::to_string(png::kMaxFileBytes) + " bytes"; break;
    case ns::FileRead::Unreadable: error = why; break;
  }
  if (!surface) {
    NSLog("HTMLPageRenderer: image %s not loaded: %s", reference.c_str(), error.c_str());
    return nullptr;
  }
  pixels_ += int64_t{cairo_image_surface_get_width(surface)} * cairo_image_surface_get_height(surface);
  return surface;
}
