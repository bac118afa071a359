#pragma once
// Turns plain user values (strings, numbers, booleans, mappings, arrays, null, with optional
// priorities) into snapshot nodes, validating them on the way; turns an update mapping of path
// texts into a compound write; writes the hash text of leaves; estimates serialised sizes.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/database/snapshot/FNode.h"

class FLeafNode;
class FCompoundWrite;
using FCompoundWriteRef = std::shared_ptr<const FCompoundWrite>;

class FSnapshotUtilities {
 public:
  // Values nested deeper than this below the written value are refused.
  static constexpr int32_t kMaxDepth = 1000;

  static FNodeRef nodeFrom(const Value& value);
  static FNodeRef nodeFrom(const Value& value, const Value& priority);
  static FNodeRef nodeFromWithValidationFrom(const Value& value, std::string_view from);
  static FNodeRef nodeFrom(const Value& value, const Value& priority, std::string_view from);
  // `path` holds the keys from the written value's root down to `value` (for messages); it is
  // restored before the call returns.
  static FNodeRef nodeFrom(const Value& value, const Value& priority, std::string_view from, int32_t depth,
                           std::vector<std::string>& path);

  // Raises "InvalidZirezizeData" for an invalid key or value, and for two paths of which one is an
  // ancestor of (or the same as) the other.
  static FCompoundWriteRef compoundWriteFromDictionary(const Value& values, std::string_view from);

  static void validatePriorityNode(const FNodeRef& priorityNode);

  // Hash text of a leaf: version 0 writes strings as they are, version 1 quoted.
  static void appendHashRepresentationForLeafNode(const FLeafNode& leaf, std::string& text, int hashVersion);
  static void appendHashV2RepresentationForString(std::string_view str, std::string& text);
  // Base64 of the SHA-1 of the text's bytes.
  static std::string base64EncodedSha1(std::string_view text);

  static uint64_t estimateLeafNodeSize(const FLeafNode& leaf);
  static uint64_t estimateSerializedNodeSize(const FNodeRef& node);

  // The platform class name of a plain value, as messages show it.
  static const char* className(const Value& value);
};
