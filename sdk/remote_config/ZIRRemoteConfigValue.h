#pragma once
// One remote-configuration value: its bytes as fetched, stored or supplied as a default, the layer
// it came from, and typed views of the bytes computed on every call. The bytes never change after
// creation; only the source may be set again. Values are shared between the content's layers and
// the callers that read them, from any thread.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

enum class ZIRRemoteConfigSource : int64_t {
  Remote = 0,   // a fetched or active value
  Default = 1,  // supplied by the application
  Static = 2,   // no value for the key: empty bytes
};

class ZIRRemoteConfigValue;
using ZIRRemoteConfigValueRef = std::shared_ptr<ZIRRemoteConfigValue>;

class ZIRRemoteConfigValue {
 public:
  // No bytes, static source.
  ZIRRemoteConfigValue();
  ZIRRemoteConfigValue(Bytes data, ZIRRemoteConfigSource source);
  static ZIRRemoteConfigValueRef initWithData(Bytes data, ZIRRemoteConfigSource source) {
    return std::make_shared<ZIRRemoteConfigValue>(std::move(data), source);
  }

  // The bytes as UTF-8 text; nullopt when they are not valid UTF-8.
  std::optional<std::string> stringValue() const;
  // The leading decimal number of the text (0 when there is none), always a double.
  double numberValue() const;
  const Bytes& dataValue() const { return *data_; }
  // True when, after white space, one sign and any zeros, the text goes on with Y, y, T, t or 1-9.
  bool boolValue() const;
  // The bytes parsed as JSON (fragments allowed); nullopt for no bytes or a parse error (logged).
  std::optional<Value> JSONValue() const;

  ZIRRemoteConfigSource source() const { return source_.load(); }
  void setSource(ZIRRemoteConfigSource source) { source_ = source; }

  std::string debugDescription() const;
  // A new value with the same bytes and source.
  ZIRRemoteConfigValueRef copy() const;

 private:
  std::shared_ptr<const Bytes> data_;
  std::atomic<ZIRRemoteConfigSource> source_;
};

// The two fetch settings an application may read and change. A plain value.
class ZIRRemoteConfigSettings {
 public:
  double minimumFetchInterval = 43200.0;  // seconds between two network fetches
  double fetchTimeout = 60.0;             // seconds
};
