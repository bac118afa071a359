#include "tests/support/PNGBuilder.h"

#include <zlib.h>

#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

void put32(std::string& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void chunk(std::string& out, const char* type, const std::string& data) {
  put32(out, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  put32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

// The image data: each row a filter byte (none) and the row's bits, all zero, deflated row by row.
std::string compressedRows(uint32_t width, uint32_t height) {
  const std::vector<unsigned char> row(1 + (size_t{width} + 7) / 8, 0);
  z_stream z{};
  if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit");
  std::string out;
  std::vector<unsigned char> buffer(1 << 16);
  for (uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    z.next_in = const_cast<unsigned char*>(row.data());
    z.avail_in = last ? 0 : static_cast<uInt>(row.size());
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

}  // namespace

std::string blackPNG(uint32_t width, uint32_t height) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  put32(header, width);
  put32(header, height);
  header += std::string("\x01\x00\x00\x00\x00", 5);  // 1 bit, greyscale, deflate, no filter, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", compressedRows(width, height));
  chunk(png, "IEND", "");
  return png;
}

}  // namespace testsupport
