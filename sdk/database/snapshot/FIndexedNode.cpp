#include "sdk/database/snapshot/FIndexedNode.h"

#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"

namespace {

// Indexed nodes come from the node allocator: the event cache makes one per change, and the
// listener's snapshot that holds it is let go on the callback queue.
template <typename... Args>
FIndexedNodeRef makeIndexed(Args&&... args) {
  return std::allocate_shared<const FIndexedNode>(FNodeAllocator<FIndexedNode>(), std::forward<Args>(args)...);
}

}  // namespace

FIndexedNodeRef FIndexedNode::indexedNodeWithNode(const FNodeRef& node) {
  return makeIndexed(node, FPriorityIndex::priorityIndex());
}

FIndexedNodeRef FIndexedNode::indexedNodeWithNode(const FNodeRef& node, const FIndexRef& index) {
  return makeIndexed(node, index);
}

FIndexedNode::FIndexedNode(FNodeRef node, FIndexRef index, FNamedNodeSetRef indexed)
    : node_(std::move(node)), index_(std::move(index)), indexed_(std::move(indexed)) {
  if (indexed_) built_.store(true, std::memory_order_release);
}

const FNamedNodeSetRef& FIndexedNode::fallbackIndex() {
  static const FNamedNodeSetRef instance =
      std::make_shared<const FNamedNodeSet>(FNamedNodeSet::Dictionary::dictionaryWithComparator(
          [](const FNamedNodeRef& a, const FNamedNodeRef& b) { return FUtilities::compareKey(a->name(), b->name()); }));
  return instance;
}

FNamedNodeSetRef FIndexedNode::indexed() const {
  return built_.load(std::memory_order_acquire) ? indexed_ : nullptr;
}

bool FIndexedNode::sawIndexedValue() const {
  if (index_->isEqual(*FPriorityIndex::priorityIndex())) {
    // A node counts its children with a priority as it is built and updated: no walk needed.
    const auto* children = dynamic_cast<const FChildrenNode*>(node_.get());
    return children && children->numChildrenWithPriority() > 0;
  }
  bool saw = false;
  node_->enumerateChildrenUsingBlock([&](const std::string&, const FNodeRef& child, bool* stop) {
    if (index_->isDefinedOn(*child)) {
      saw = true;
      *stop = true;
    }
  });
  return saw;
}

const FNamedNodeSetRef& FIndexedNode::ensureIndexed() const {
  std::call_once(indexOnce_, [this] {
    if (!indexed_) {
      if (index_->isEqual(*FKeyIndex::keyIndex())) {
        indexed_ = fallbackIndex();
      } else {
        const auto* children = dynamic_cast<const FChildrenNode*>(node_.get());
        FNamedNodeSetRef kept = children ? children->childrenInOrderIfKept(*index_) : nullptr;
        if (kept) {
          // The node was sorted in this order already (a window asked it for the child after one).
          indexed_ = std::move(kept);
        } else if (sawIndexedValue()) {
          indexed_ = FNamedNodeSet::setWithSortedMembers(index_->sortedChildren(*node_), index_->namedNodeComparator());
        } else {
          indexed_ = fallbackIndex();
        }
      }
    }
    built_.store(true, std::memory_order_release);
  });
  return indexed_;
}

FIndexedNodeRef FIndexedNode::updateChild(const std::string& key, const FNodeRef& newChild) const {
  return withUpdatedChild(key, newChild, node_->updateImmediateChild(key, newChild), nullptr);
}

FIndexedNodeRef FIndexedNode::updateChildUnlessEqual(const std::string& key, const FNodeRef& newChild,
                                                     FNodeRef& oldChild) const {
  FNodeRef newNode;
  if (node_->kind() == FNode::Kind::Children) {
    newNode = static_cast<const FChildrenNode&>(*node_).updateImmediateChildUnlessEqual(key, newChild, oldChild);
    if (!newNode) return nullptr;
  } else {
    oldChild = node_->getImmediateChild(key);
    if (oldChild->isEqual(*newChild)) return nullptr;
    newNode = node_->updateImmediateChild(key, newChild);
  }
  return withUpdatedChild(key, newChild, std::move(newNode), oldChild);
}

FIndexedNodeRef FIndexedNode::withUpdatedChild(const std::string& key, const FNodeRef& newChild, FNodeRef newNode,
                                               const FNodeRef& oldChild) const {
  const FNamedNodeSetRef current = indexed();
  if (current == fallbackIndex() && !index_->isDefinedOn(*newChild)) {
    return makeIndexed(newNode, index_, fallbackIndex());
  }
  if (current && current != fallbackIndex()) {
    FNamedNodeSetRef updated =
        current->removeObject(FNamedNode::nodeWithName(key, oldChild ? oldChild : node_->getImmediateChild(key)));
    if (!newChild->isEmpty()) updated = updated->addObject(FNamedNode::nodeWithName(key, newChild));
    return makeIndexed(newNode, index_, updated);
  }
  return makeIndexed(newNode, index_);
}

FIndexedNodeRef FIndexedNode::updatePriority(const FNodeRef& priority) const {
  return makeIndexed(node_->updatePriority(priority), index_, indexed());
}

FNamedNodeRef FIndexedNode::firstChild() const {
  const auto* children = dynamic_cast<const FChildrenNode*>(node_.get());
  if (!children) return nullptr;
  const auto& set = ensureIndexed();
  if (set == fallbackIndex()) return children->firstChild();
  auto first = set->firstObject();
  return first ? *first : nullptr;
}

FNamedNodeRef FIndexedNode::lastChild() const {
  const auto* children = dynamic_cast<const FChildrenNode*>(node_.get());
  if (!children) return nullptr;
  const auto& set = ensureIndexed();
  if (set == fallbackIndex()) return children->lastChild();
  auto last = set->lastObject();
  return last ? *last : nullptr;
}

std::optional<std::string> FIndexedNode::predecessorForChildKey(const std::string& key, const FNodeRef& childNode,
                                                                const FIndex& index) const {
  if (!index_->isEqual(index)) {
    NSException::raise(NSInvalidArgumentException, "Index not available in IndexedNode!");
  }
  const auto& set = ensureIndexed();
  if (set == fallbackIndex()) return node_->predecessorChildKey(key);
  auto predecessor = set->predecessorEntry(FNamedNode::nodeWithName(key, childNode));
  if (!predecessor) return std::nullopt;
  return (*predecessor)->name();
}

void FIndexedNode::enumerateChildrenReverse(bool reverse, const FNodeChildBlock& block) const {
  const auto& set = ensureIndexed();
  if (set == fallbackIndex()) {
    node_->enumerateChildrenReverse(reverse, block);
    return;
  }
  set->enumerateObjectsReverse(reverse,
                               [&block](const FNamedNodeRef& named, bool* stop) { block(named->name(), named->node(), stop); });
}

FNamedNodeEnumerator FIndexedNode::childEnumerator() const {
  const auto& set = ensureIndexed();
  if (set == fallbackIndex()) return node_->childEnumerator();
  return set->objectEnumerator();
}
