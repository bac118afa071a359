#include "sdk/utilities/ZODGzip.h"

#include "platform/network/Gzip.h"

std::optional<Bytes> zod_dataByGzippingData(const Bytes& data, NSErrorRef* error) {
  int status = 0;
  auto out = net::gzip(data, &status);
  if (!out && error) {
    *error = NSError::errorWithDomain(
        kZODDataCompressionErrorDomain, status,
        Value{{NSLocalizedDescriptionKey, "Failed to compress data with gzip."}});
  } else if (error) {
    *error = nullptr;
  }
  return out;
}

std::optional<Bytes> zod_dataByInflatingGzippedData(const Bytes& data, NSErrorRef* error) {
  int status = 0;
  auto out = net::gunzip(data, &status);
  if (!out && error) {
    const std::string reason =
        status == net::kGunzipOutputTooLarge
            ? "Failed to inflate gzip data: it expands past the limit of " + std::to_string(net::kMaxGunzipBytes) + " bytes."
            : std::string("Failed to inflate gzip data: corrupt or truncated.");
    *error = NSError::errorWithDomain(kZODDataCompressionErrorDomain, status,
                                      Value{{NSLocalizedDescriptionKey, reason}});
  } else if (error) {
    *error = nullptr;
  }
  return out;
}
