#pragma once
// The images one page shows (its <img> elements and the backgrounds of its style), decoded from
// PNG files for drawing. The page renderer owns one and starts it afresh for every page.
//
// A file is decoded once for the page however its path is spelt ("d//big.png", "d/./big.png",
// a "file:" address, a link): it is known by its device and inode. What one page decodes is
// bounded in all: an image at most HTMLPageRenderer::kMaxImagePixels, and the page's images
// together at most HTMLPageRenderer::kMaxPageImagePixels, both checked from a file's header
// before it is decoded. An image that is missing, not a regular file (a FIFO or a device is
// refused without being read, where reading could wait for good), not a PNG or beyond a limit is
// left out, and the reason logged once.
// Main thread only (one page at a time).
#include <cstdint>
#include <map>
#include <string>

#include "platform/uikit/HTMLPageFiles.h"

typedef struct _cairo_surface cairo_surface_t;

class HTMLPageImages {
 public:
  HTMLPageImages() = default;
  ~HTMLPageImages();
  HTMLPageImages(const HTMLPageImages&) = delete;
  HTMLPageImages& operator=(const HTMLPageImages&) = delete;

  // Lets go of the images of the page before (none of them may be drawn any more).
  void startPage();

  // The image at the path (`reference` is how the page wrote it, for the log), owned by this
  // object until the next page; null when it is left out.
  cairo_surface_t* image(const std::string& path, const std::string& reference);

  // The pixels decoded for the page so far.
  int64_t pixelsDecoded() const { return pixels_; }

 private:
  cairo_surface_t* decode(const std::string& path, const std::string& reference);

  std::map<std::string, cairo_surface_t*> byPath_;             // every spelling met, to its image
  std::map<htmlpage::FileIdentity, cairo_surface_t*> byFile_;  // owns the images
  int64_t pixels_ = 0;
};
