#pragma once
// PNG files decoded into Cairo image surfaces: the bundle's images (UIImage) and the images a
// bundle page shows (the web view). Any thread; no shared state.
//
// Limits, checked before anything is decoded: the file at most kMaxFileBytes, and the image at
// most kMaxPixels as its header declares them. Decoding costs four bytes a pixel whatever the
// file's size: a 32 KB file may declare 16,384 x 16,384 pixels and take a gigabyte. The largest
// image the screens use is 1136 x 640 (the full-window background at scale 2); the limit is 23
// times that.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

typedef struct _cairo_surface cairo_surface_t;

namespace png {

inline constexpr size_t kMaxFileBytes = 16 << 20;
inline constexpr int64_t kMaxPixels = int64_t{4096} * 4096;

struct PixelSize {
  int64_t width = 0;
  int64_t height = 0;
};

// The size the header (the IHDR chunk) declares; none when the bytes do not begin as a PNG does.
std::optional<PixelSize> headerSize(std::string_view bytes);

// The decoded image (the caller owns it), or null with *error saying why: the file is missing,
// unreadable (a FIFO or a device is refused without waiting on it: ns::readFile) or too large, is
// no PNG, declares more than `maxPixels` pixels, or does not decode.
cairo_surface_t* readSurface(const std::string& path, std::string* error = nullptr, int64_t maxPixels = kMaxPixels);
// The same for a file's bytes already read (at most kMaxFileBytes of them, as a file may hold).
cairo_surface_t* decodeSurface(std::string_view bytes, std::string* error = nullptr, int64_t maxPixels = kMaxPixels);

}  // namespace png
