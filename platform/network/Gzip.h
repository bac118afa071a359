#pragma once
// gzip and gunzip over zlib (window bits 31: a gzip header and trailer around deflate data).
#include <optional>

#include "platform/foundation/Value.h"

namespace net {
// The compressed bytes, or nullopt with the zlib status in *status.
std::optional<Bytes> gzip(const Bytes& data, int* status = nullptr);
// The most one gunzip produces by default: a few megabytes of gzip may expand a thousandfold.
inline constexpr size_t kMaxGunzipBytes = 32 << 20;
// The status of input that would inflate to more than the limit (not a zlib status).
inline constexpr int kGunzipOutputTooLarge = -100;
// The inflated bytes of one or more gzip members, or nullopt with the zlib status in *status
// (Z_DATA_ERROR for corrupt input, Z_BUF_ERROR for truncated input, kGunzipOutputTooLarge when
// all members together would inflate to more than maxBytes; nothing past the limit is produced).
std::optional<Bytes> gunzip(const Bytes& data, int* status = nullptr, size_t maxBytes = kMaxGunzipBytes);
// Whether the bytes begin with the gzip magic number.
bool isGzipped(const Bytes& data);
}  // namespace net
