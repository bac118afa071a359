#pragma once
// gzip and gunzip over zlib (window bits 31: a gzip header and trailer around deflate data).
#include <optional>

#include "platform/foundation/Value.h"

namespace net {
// The compressed bytes, or nullopt with the zlib status in *status.
std::optional<Bytes> gzip(const Bytes& data, int* status = nullptr);
// The inflated bytes of one or more gzip members, or nullopt with the zlib status in *status
// (Z_DATA_ERROR for corrupt input, Z_BUF_ERROR for truncated input).
std::optional<Bytes> gunzip(const Bytes& data, int* status = nullptr);
// Whether the bytes begin with the gzip magic number.
bool isGzipped(const Bytes& data);
}  // namespace net
