#pragma once
// PNG files built byte by byte for tests: an image of any declared size, all black, compressed as
// the format allows (one bit a pixel), so that a file of a few tens of kilobytes may declare
// hundreds of millions of pixels.
#include <cstdint>
#include <string>

namespace testsupport {

// A valid one-bit greyscale PNG of the size, every pixel black.
std::string blackPNG(uint32_t width, uint32_t height);

}  // namespace testsupport
