#pragma once
// Small builders shared by the node tests.
#include <string>

#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace testnodes {

inline FNodeRef node(const char* json) { return FSnapshotUtilities::nodeFrom(Value::parse(json)); }
inline FNodeRef leaf(Value v) { return std::make_shared<const FLeafNode>(std::move(v)); }
inline FNodeRef leaf(Value v, Value priority) {
  return std::make_shared<const FLeafNode>(std::move(v), leaf(std::move(priority)));
}
inline FPathRef path(const char* text) { return FPath::pathWithString(text); }
inline std::string sha1Base64(const std::string& text) {
  auto digest = security::sha1(text);
  return ns::base64Encode(std::vector<uint8_t>(digest.begin(), digest.end()));
}

}  // namespace testnodes
