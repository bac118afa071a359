#include "sdk/database/core/FCompoundHash.h"

#include <cmath>
#include <vector>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FStringUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

FCompoundHashBuilder::FCompoundHashBuilder(FCompoundHashSplitStrategy strategy)
    : splitStrategy_(std::move(strategy)) {}

FPathRef FCompoundHashBuilder::currentPathWithDepth(int64_t depth) const {
  if (depth <= 0) return FPath::empty();
  auto pieces = std::make_shared<const std::vector<std::string>>(currentPath_.begin(), currentPath_.begin() + depth);
  return std::make_shared<const FPath>(pieces, 0);
}

const std::string* FCompoundHashBuilder::currentLastKey() const {
  return currentPathDepth_ > 0 ? &currentPath_[static_cast<size_t>(currentPathDepth_ - 1)] : nullptr;
}

void FCompoundHashBuilder::append(std::string_view text) {
  text_ += text;
  utf16Length_ += ns::utf16Length(text);
}

void FCompoundHashBuilder::appendKey(const std::string& key) {
  std::string quoted;
  FSnapshotUtilities::appendHashV2RepresentationForString(key, quoted);
  append(quoted);
}

void FCompoundHashBuilder::ensureRange() {
  if (building_) return;
  building_ = true;
  text_.clear();
  utf16Length_ = 0;
  append("(");
  for (int64_t i = 0; i < currentPathDepth_; ++i) {
    appendKey(currentPath_[static_cast<size_t>(i)]);
    append(":(");
  }
  needsComma_ = false;
}

void FCompoundHashBuilder::startChild(const std::string& key) {
  ensureRange();
  if (needsComma_) append(",");
  appendKey(key);
  append(":(");
  if (static_cast<size_t>(currentPathDepth_) == currentPath_.size()) {
    currentPath_.push_back(key);
  } else {
    currentPath_[static_cast<size_t>(currentPathDepth_)] = key;
  }
  ++currentPathDepth_;
  needsComma_ = false;
}

void FCompoundHashBuilder::endChild() {
  --currentPathDepth_;
  if (building_) append(")");
  needsComma_ = true;
}

void FCompoundHashBuilder::processLeaf(const FNodeRef& leaf) {
  ensureRange();
  lastLeafDepth_ = currentPathDepth_;
  std::string leafText;
  FSnapshotUtilities::appendHashRepresentationForLeafNode(static_cast<const FLeafNode&>(*leaf), leafText, 1);
  append(leafText);
  needsComma_ = true;
  if (splitStrategy_ && splitStrategy_(*this)) endRange();
}

void FCompoundHashBuilder::endRange() {
  for (int64_t i = 0; i < currentPathDepth_; ++i) append(")");
  append(")");
  currentPaths_.push_back(currentPathWithDepth(lastLeafDepth_));
  currentHashes_.push_back(FStringUtilities::base64EncodedSha1(text_));
  building_ = false;
  text_.clear();
  utf16Length_ = 0;
}

void FCompoundHashBuilder::finishHashing() {
  if (building_) endRange();
  currentHashes_.emplace_back();
}

FCompoundHash::FCompoundHash(std::vector<FPathRef> posts, std::vector<std::string> hashes)
    : posts_(std::move(posts)), hashes_(std::move(hashes)) {
  if (posts_.size() + 1 != hashes_.size()) {
    NSException::raise(NSInvalidArgumentException, "Number of posts need to be n-1 for n hashes in FCompoundHash");
  }
}

namespace {

// Walks the node depth first (children and priority in the order of
// enumerateChildrenAndPriorityUsingBlock), telling the builder where each child starts and ends and
// handing it each leaf. From a loop rather than by a call per level: trees can be thousands of
// levels deep.
void processNode(const FNodeRef& node, FCompoundHashBuilder& builder) {
  if (node->isLeafNode()) {
    builder.processLeaf(node);
    return;
  }
  struct Pending {
    std::vector<std::pair<std::string, FNodeRef>> children;
    size_t next = 0;
  };
  std::vector<Pending> pending;
  auto open = [&pending](const FNode& interior) {
    Pending p;
    if (const auto* children = dynamic_cast<const FChildrenNode*>(&interior)) {
      children->enumerateChildrenAndPriorityUsingBlock([&p](const std::string& key, const FNodeRef& child, bool*) {
        p.children.emplace_back(key, child);
      });
    }
    pending.push_back(std::move(p));
  };
  open(*node);
  while (!pending.empty()) {
    Pending& top = pending.back();
    if (top.next == top.children.size()) {
      pending.pop_back();
      if (!pending.empty()) builder.endChild();  // the interior child just walked ends
      continue;
    }
    const auto& [key, child] = top.children[top.next++];
    builder.startChild(key);
    if (child->isLeafNode()) {
      builder.processLeaf(child);
      builder.endChild();
    } else {
      const FNodeRef interior = child;  // `top` and its children may move when `pending` grows
      open(*interior);
    }
  }
}

}  // namespace

FCompoundHashRef FCompoundHash::fromNode(const FNodeRef& node) {
  return fromNode(node, simpleSizeSplitStrategyForNode(node));
}

FCompoundHashRef FCompoundHash::fromNode(const FNodeRef& node, const FCompoundHashSplitStrategy& strategy) {
  if (node->isEmpty()) return std::make_shared<const FCompoundHash>(std::vector<FPathRef>{}, std::vector<std::string>{""});
  FCompoundHashBuilder builder(strategy);
  processNode(node, builder);
  builder.finishHashing();
  return std::make_shared<const FCompoundHash>(builder.currentPaths(), builder.currentHashes());
}

FCompoundHashSplitStrategy FCompoundHash::simpleSizeSplitStrategyForNode(const FNodeRef& node) {
  const double estimate = static_cast<double>(FSnapshotUtilities::estimateSerializedNodeSize(node));
  const uint64_t threshold = std::max<uint64_t>(512, static_cast<uint64_t>(std::sqrt(estimate * 100)));
  return [threshold](const FCompoundHashBuilder& builder) {
    const std::string* last = builder.currentLastKey();
    return builder.currentHashLength() > threshold && !(last && *last == ".priority");
  };
}
