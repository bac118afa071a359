#include "platform/network/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace net {

namespace {
constexpr int kGzipWindowBits = 31;
constexpr size_t kChunk = 64 * 1024;
}  // namespace

std::optional<Bytes> gzip(const Bytes& data, int* status) {
  z_stream s{};
  int rc = deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8,
                        Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) {
    if (status) *status = rc;
    return std::nullopt;
  }
  Bytes out;
  size_t offset = 0;
  int flush = Z_NO_FLUSH;
  do {
    size_t remaining = data.size() - offset;
    uInt take = static_cast<uInt>(std::min<size_t>(remaining, UINT_MAX));
    s.next_in = const_cast<Bytef*>(data.data() + offset);
    s.avail_in = take;
    offset += take;
    flush = offset == data.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      size_t before = out.size();
      out.resize(before + kChunk);
      s.next_out = out.data() + before;
      s.avail_out = kChunk;
      rc = deflate(&s, flush);
      out.resize(before + kChunk - s.avail_out);
      if (rc == Z_STREAM_ERROR) {
        deflateEnd(&s);
        if (status) *status = rc;
        return std::nullopt;
      }
    } while (s.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&s);
  if (rc != Z_STREAM_END) {
    if (status) *status = rc;
    return std::nullopt;
  }
  if (status) *status = Z_OK;
  return out;
}

std::optional<Bytes> gunzip(const Bytes& data, int* status, size_t maxBytes) {
  if (data.empty()) {
    if (status) *status = Z_BUF_ERROR;
    return std::nullopt;
  }
  Bytes out;
  size_t offset = 0;
  while (offset < data.size()) {
    z_stream s{};
    int rc = inflateInit2(&s, kGzipWindowBits);
    if (rc != Z_OK) {
      if (status) *status = rc;
      return std::nullopt;
    }
    size_t remaining = data.size() - offset;
    if (remaining > UINT_MAX) remaining = UINT_MAX;
    s.next_in = const_cast<Bytef*>(data.data() + offset);
    s.avail_in = static_cast<uInt>(remaining);
    do {
      // Room for one byte past the limit at most, so that passing it is noticed without making more.
      const size_t before = out.size();
      if (before > maxBytes) {
        inflateEnd(&s);
        if (status) *status = kGunzipOutputTooLarge;
        return std::nullopt;
      }
      const size_t room = std::min(kChunk, maxBytes + 1 - before);
      out.resize(before + room);
      s.next_out = out.data() + before;
      s.avail_out = static_cast<uInt>(room);
      rc = inflate(&s, Z_NO_FLUSH);
      out.resize(before + room - s.avail_out);
      if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
        inflateEnd(&s);
        if (status) *status = rc == Z_NEED_DICT ? Z_DATA_ERROR : rc;
        return std::nullopt;
      }
      if (rc == Z_BUF_ERROR && s.avail_in == 0) break;  // input ended early
    } while (rc != Z_STREAM_END);
    size_t consumed = remaining - s.avail_in;
    inflateEnd(&s);
    if (out.size() > maxBytes) {
      if (status) *status = kGunzipOutputTooLarge;
      return std::nullopt;
    }
    if (rc != Z_STREAM_END) {
      if (status) *status = Z_BUF_ERROR;
      return std::nullopt;
    }
    offset += consumed;
    // Trailing zero padding after the last member is tolerated.
    bool onlyPadding = true;
    for (size_t i = offset; i < data.size(); ++i) {
      if (data[i] != 0) {
        onlyPadding = false;
        break;
      }
    }
    if (onlyPadding) break;
  }
  if (status) *status = Z_OK;
  return out;
}

bool isGzipped(const Bytes& data) {
  return data.size() >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

}  // namespace net
