#pragma once
// gzip compression of data (deflate with a gzip wrapper, window bits 31).
#include <optional>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

inline constexpr const char* kZODDataCompressionErrorDomain = "com.zod.ZODDataCompression";

// The gzip-compressed data, or nullopt with *error set.
std::optional<Bytes> zod_dataByGzippingData(const Bytes& data, NSErrorRef* error);
// The data inflated from gzip, or nullopt with *error set (truncated or corrupt input, or data
// that would inflate past net::kMaxGunzipBytes: code net::kGunzipOutputTooLarge).
std::optional<Bytes> zod_dataByInflatingGzippedData(const Bytes& data, NSErrorRef* error);
