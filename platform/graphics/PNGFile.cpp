#include "platform/graphics/PNGFile.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "platform/foundation/NSPathUtilities.h"

namespace png {

namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);

uint32_t bigEndian32(std::string_view bytes, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Cairo pulls the encoded bytes through this (from C: nothing here throws).
struct Source {
  std::string_view bytes;
  size_t at = 0;
};

cairo_status_t readBytes(void* closure, unsigned char* data, unsigned int length) noexcept {
  auto* source = static_cast<Source*>(closure);
  if (length > source->bytes.size() - source->at) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, source->bytes.data() + source->at, length);
  source->at += length;
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::optional<PixelSize> headerSize(std::string_view bytes) {
  // The signature, then the IHDR chunk first of all: length 13, type, width, height.
  if (bytes.size() < 24 || bytes.substr(0, 8) != kSignature || bigEndian32(bytes, 8) != 13 ||
      bytes.substr(12, 4) != "IHDR") {
    return std::nullopt;
  }
  return PixelSize{bigEndian32(bytes, 16), bigEndian32(bytes, 20)};
}

cairo_surface_t* readSurface(const std::string& path, std::string* error, int64_t maxPixels) {
  std::string bytes, why;
  switch (ns::readFile(path, kMaxFileBytes, &bytes, &why)) {
    case ns::FileRead::Read:
      return decodeSurface(bytes, error, maxPixels);
    case ns::FileRead::Missing:
      setError(error, "no such file");
      return nullptr;
    case ns::FileRead::Unreadable:
      setError(error, "the file cannot be read: " + why);
      return nullptr;
    case ns::FileRead::TooLarge:
      setError(error, "the file is larger than " + std::to_string(kMaxFileBytes) + " bytes");
      return nullptr;
  }
  return nullptr;
}

cairo_surface_t* decodeSurface(std::string_view bytes, std::string* error, int64_t maxPixels) {
  if (bytes.size() > kMaxFileBytes) {
    setError(error, "the file is larger than " + std::to_string(kMaxFileBytes) + " bytes");
    return nullptr;
  }
  const auto size = headerSize(bytes);
  if (!size) {
    setError(error, "the file is not a PNG image");
    return nullptr;
  }
  // (An image of no pixels is left to the decoder to refuse.)
  if (size->width > 0 && size->height > 0 && size->width > maxPixels / size->height) {
    setError(error, "the image is " + std::to_string(size->width) + " x " + std::to_string(size->height) +
                        " pixels; an image may have at most " + std::to_string(maxPixels) +
                        " (decoded, it would take four bytes a pixel)");
    return nullptr;
  }
  Source source{bytes};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readBytes, &source);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    setError(error, std::string("the image does not decode: ") + cairo_status_to_string(cairo_surface_status(surface)));
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return surface;
}

}  // namespace png
