// Server-value placeholders resolved for the local copy of a write, as the repository does.
// Input: a JSON array [written value, existing value, clock seconds]; the last two may be absent.
#include <vector>

#include "platform/foundation/NSException.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FCompoundHash.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FServerValues.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/DatabaseFuzzSupport.h"
#include "tests/fuzz/FuzzSupport.h"

using fuzzsupport::broken;
using fuzzsupport::holdsPlaceholder;

namespace {

FNodeRef nodeOrNull(const Value& v) {
  try {
    return FSnapshotUtilities::nodeFromWithValidationFrom(v, "setValue:");
  } catch (const NSException&) {
    return nullptr;
  }
}

// A resolved node holds no placeholder: it hashes, sizes and compound-hashes without complaint.
void checkResolved(const FNodeRef& node) {
  (void)node->dataHash();
  (void)FSnapshotUtilities::estimateSerializedNodeSize(node);
  (void)FCompoundHash::fromNode(node);
  if (holdsPlaceholder(node->valForExport(true))) broken("nothing is left to resolve");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = value::parseJSON(fuzzsupport::asText(data, size), true);
  if (!parsed || !parsed->is_array() || parsed->empty()) return 0;
  const Value& written = (*parsed)[0];
  const FNodeRef node = nodeOrNull(written);
  if (!node) return 0;
  const FNodeRef existing = parsed->size() > 1 ? nodeOrNull((*parsed)[1]) : nullptr;
  const double seconds =
      parsed->size() > 2 && (*parsed)[2].is_number() ? (*parsed)[2].get<double>() : 1234.5678;
  const Value serverValues = FServerValues::generateServerValues(seconds);

  const FNodeRef resolved = FServerValues::resolveDeferredValueSnapshotWithExisting(node, existing, serverValues);
  checkResolved(resolved);
  if (!holdsPlaceholder(written) && resolved != node) broken("a node without placeholders comes back as itself");

  // The same against a tree read at a location, as a sync tree answers.
  const auto reader = [existing](const FPathRef& path) -> FNodeRef {
    return existing ? existing->getChild(path) : nullptr;
  };
  const FNodeRef deferred = FServerValues::resolveDeferredValueSnapshotWithReader(node, reader, FPath::empty(), serverValues);
  if (!deferred->isEqual(*resolved)) broken("both providers resolve alike");

  // Plain values: every leaf's value and priority on their own.
  resolved->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (!child->isLeafNode()) return;
    const auto& leaf = static_cast<const FLeafNode&>(*child);
    auto again = FServerValues::resolveDeferredValue(leaf.value(), ExistingValueProvider(existing), serverValues);
    if (!again || *again != leaf.value()) broken("a resolved value stays as it is");
  });

  // A multi-location update whose writes resolve against the tree.
  if (written.is_object()) {
    FCompoundWriteRef write;
    try {
      write = FSnapshotUtilities::compoundWriteFromDictionary(written, "updateChildValues:");
    } catch (const NSException&) {
      return 0;
    }
    const FCompoundWriteRef resolvedWrite =
        FServerValues::resolveDeferredValueCompoundWrite(write, reader, FPath::empty(), serverValues);
    resolvedWrite->enumerateWrites([](const FPathRef&, const FNodeRef& n, bool*) { checkResolved(n); });
    if (!holdsPlaceholder(written) && resolvedWrite != write) broken("a write without placeholders comes back as itself");
  }
  return 0;
}
