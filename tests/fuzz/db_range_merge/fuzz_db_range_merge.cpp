// Range merges as the connection builds them from a server message: optional start and end path
// texts and update data, applied to the cached node.
// Input: a JSON array [start path text or null, end path text or null, existing value, update value].
#include "platform/foundation/NSException.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FRangeMerge.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/FuzzSupport.h"

using fuzzsupport::broken;

namespace {

FPathRef pathOrNull(const Value& v) { return v.is_string() ? FPath::pathWithString(v.get<std::string>()) : nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = value::parseJSON(fuzzsupport::asText(data, size), true);
  if (!parsed || !parsed->is_array() || parsed->size() != 4) return 0;
  const FPathRef start = pathOrNull((*parsed)[0]);
  const FPathRef end = pathOrNull((*parsed)[1]);
  FNodeRef node, updates;
  try {
    node = FSnapshotUtilities::nodeFrom((*parsed)[2]);
    updates = FSnapshotUtilities::nodeFrom((*parsed)[3]);
  } catch (const NSException&) {
    return 0;
  }
  const FRangeMerge merge(start, end, updates);
  const FNodeRef result = merge.applyToNode(node);
  (void)merge.description();
  (void)result->description();
  result->enumerateChildrenUsingBlock([](const std::string&, const FNodeRef& child, bool*) {
    if (child->isEmpty()) broken("no empty child is stored");
  });

  if (!start && !end && result != updates) broken("an unbounded merge replaces everything");
  // A range that ends where it starts, or before, holds no location.
  if (start && end && start->compare(*end) >= 0 && result != node) broken("an empty range changes nothing");
  // A priority outside the range stays, unless the update makes the whole node a leaf or nothing
  // is left to carry it.
  const FPathRef priority = FPath::pathWithString(".priority");
  const bool priorityOutside = (start && priority->compare(*start) <= 0) || (end && priority->compare(*end) > 0);
  if (priorityOutside && !updates->isLeafNode() && !result->isEmpty() &&
      !result->getPriority()->isEqual(*node->getPriority())) {
    broken("a priority outside the range stays");
  }
  return 0;
}
