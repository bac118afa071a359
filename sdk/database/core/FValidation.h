#pragma once
// Checks of user input (paths, keys, event types, values, priorities) before it enters the database
// client. A failed check raises an NSException that ends the caller's operation; nothing is stored.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

class FPath;
class FCompoundWrite;

inline constexpr const char* kInvalidPathValidation = "InvalidPathValidation";
inline constexpr const char* kInvalidKeyValidation = "InvalidKeyValidation";
inline constexpr const char* kWritablePathValidation = "WritablePathValidation";
inline constexpr const char* kKnownEventTypeValidation = "KnownEventTypeValidation";
inline constexpr const char* kInvalidZirezizeData = "InvalidZirezizeData";
inline constexpr const char* kInvalidLeafValueType = "InvalidLeafValueType";

class FValidation {
 public:
  // The longest string value, in UTF-8 bytes.
  static constexpr uint64_t kMaxStringBytes = 10485760;
  // The most keys a path may have: the same bound as the nesting of a written value below its
  // location. Walks along a path (updates of nodes, immutable trees, compound writes, the sync
  // tree) take a call per key, so every path that reaches them is held to this: path texts here,
  // whole paths built key by key with validateFromValidPathDepth (reads and listens) or
  // validateFromWritablePath (writes), and the location of each update entry, the reference's
  // path with the entry's key below it, with validateFromWritableUpdate: two paths within the
  // bound join to one of twice its length, which the walks do not survive in every build. Paths
  // from elsewhere are held to it where they arrive: the connection drops server messages whose
  // paths (joined with merge keys and range bounds) are longer, the storage engine sets aside
  // records that hold them. Walks of whole nodes do not recurse per level.
  static constexpr uint64_t kMaxPathDepth = 1000;

  // Both also require valid UTF-8: texts that name no character would compare like the
  // replacement character and stand for one another.
  static bool isValidPathString(std::string_view pathString);
  static bool isValidKey(std::string_view key);
  // Not null and, for a string, not empty (other values count as non-empty).
  static bool stringNonempty(const Value& object);

  // Raises InvalidPathValidation also for more than kMaxPathDepth keys.
  static void validateFromValidPathString(std::string_view from, std::string_view pathString);
  static void validateFromValidRootPathString(std::string_view from, std::string_view pathString);
  // `urlPath` is the description of the parsed URL's path.
  static void validateFromValidURL(std::string_view from, std::string_view urlPath);
  static void validateFromValidKey(std::string_view from, std::string_view key);
  // Raises InvalidPathValidation for more than kMaxPathDepth keys.
  static void validateFromValidPathDepth(std::string_view from, const FPath& path);
  // Raises InvalidPathValidation for more than kMaxPathDepth keys, WritablePathValidation under ".info".
  static void validateFromWritablePath(std::string_view from, const FPath& path);
  // validateFromWritablePath for the location of an update, and InvalidPathValidation when the
  // location of one of its entries (`path` joined with the entry's path) has more than
  // kMaxPathDepth keys.
  static void validateFromWritableUpdate(std::string_view from, const FPath& path, const FCompoundWrite& update);
  // The number of keys of a path text (pieces between "/" that are not empty, as FPath reads
  // them), counted only up to one past `limit`: a text of any length is measured without building
  // its path.
  static uint64_t pathKeyCount(std::string_view pathText, uint64_t limit = kMaxPathDepth);
  static void validateFromKnownEventType(std::string_view from, int64_t eventType);
  static void validateToken(const std::optional<std::string>& token);

  // YES for a valid leaf (string, number, boolean, server value, null), NO for a value that is not
  // a leaf (a mapping, an array); raises for a leaf that cannot be stored.
  static bool validateFromIsValidLeafValue(std::string_view from, const Value& value,
                                           const std::vector<std::string>& path);
  static std::string parseAndValidateKey(const Value& key, std::string_view from,
                                         const std::vector<std::string>& path);
  static void validateFromValidDictionaryKey(std::string_view from, const Value& key,
                                             const std::vector<std::string>& path);
  static void validateFromValidUpdateDictionaryKey(std::string_view from, const Value& key,
                                                   const Value& value);
  static bool validateFromIsValidPriorityValue(std::string_view from, const Value& value,
                                               const std::vector<std::string>& path,
                                               bool throwError);
  static bool validateFromIsValidPriorityValue(std::string_view from, const Value& value,
                                               const std::vector<std::string>& path) {
    return validateFromIsValidPriorityValue(from, value, path, true);
  }
  static bool validatePriorityValue(const Value& value);

  // YES when the value has containers nested more than `maxDepth` levels deep (a container at the
  // top is level 1). Walks without recursion, so any depth is safe to ask about.
  static bool valueDepthExceeds(const Value& value, size_t maxDepth);
  // YES when the node the value converts to (FSnapshotUtilities::nodeFrom) would hold a child more
  // than `maxDepth` keys below its top, which the conversion refuses when `maxDepth` is its own
  // limit: keys of mappings and indices of arrays count; ".priority", ".value" and server-value
  // placeholders add no level. Walks without recursion, so any depth is safe to ask about.
  static bool nodeDepthExceeds(const Value& value, size_t maxDepth);
  // A value as a message shows it: its JSON text when it is shallow (at most 3 levels) and short
  // (at most 100 bytes, else cut), otherwise only "[...]" or "{...}". Values handed in by code may
  // be nested without limit, and writing them out whole would recurse as deep.
  static std::string describeValue(const Value& value);

  // The first `maxKeys` keys joined by ".", the form in which messages show a key list.
  static std::string joinedPath(const std::vector<std::string>& path, size_t maxKeys = 50);
};
