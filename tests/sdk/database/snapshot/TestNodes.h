#pragma once
// Small builders shared by the node tests.
#include <string>

#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace testnodes {

using testsupport::node;
inline FNodeRef leaf(Value v) { return std::make_shared<const FLeafNode>(std::move(v)); }
inline FNodeRef leaf(Value v, Value priority) {
  return std::make_shared<const FLeafNode>(std::move(v), leaf(std::move(priority)));
}
using testsupport::path;
inline std::string sha1Base64(const std::string& text) {
  auto digest = security::sha1(text);
  return ns::base64Encode(std::vector<uint8_t>(digest.begin(), digest.end()));
}

}  // namespace testnodes
