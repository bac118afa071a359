#include "sdk/database/snapshot/FChildrenNode.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FStringUtilities.h"
#include "sdk/database/core/FTransformedEnumerator.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FIndex.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

FChildrenDictionaryRef FChildrenNode::emptyChildren() {
  static const FChildrenDictionaryRef empty =
      FChildrenDictionary::dictionaryWithComparator(FUtilities::keyComparator());
  return empty;
}

FChildrenNode::FChildrenNode() : children_(emptyChildren()) {}

namespace {

bool carriesPriority(const FNode& child) { return !child.getPriority()->isEmpty(); }

int32_t countChildrenWithPriority(const FChildrenDictionary& children) {
  int32_t count = 0;
  children.enumerateKeysAndObjectsUsingBlock([&](const std::string&, const FNodeRef& child, bool*) {
    if (carriesPriority(*child)) ++count;
  });
  return count;
}

}  // namespace

FChildrenNode::FChildrenNode(FChildrenDictionaryRef children) : children_(std::move(children)) {
  if (!children_) children_ = emptyChildren();
  childrenWithPriority_ = countChildrenWithPriority(*children_);
}

FChildrenNode::FChildrenNode(FNodeRef priority, FChildrenDictionaryRef children)
    : children_(std::move(children)), priority_(std::move(priority)) {
  if (!children_) children_ = emptyChildren();
  if (children_->isEmpty() && priority_ && !priority_->isEmpty()) {
    NSException::raise(NSInvalidArgumentException, "Can't create empty node with priority!");
  }
  childrenWithPriority_ = countChildrenWithPriority(*children_);
}

FChildrenNode::FChildrenNode(FNodeRef priority, FChildrenDictionaryRef children, KnownCount childrenWithPriority)
    : children_(std::move(children)), priority_(std::move(priority)), childrenWithPriority_(childrenWithPriority.value) {}

FChildrenNode::~FChildrenNode() {
  // Releasing the children can release child nodes, whose destructors would release theirs: one
  // call deeper per level of the tree. Instead the outermost destructor on this thread takes the
  // children of every node that comes free and releases them one after another. (The kept orders
  // hold the same children: released while the queue is in place, they add to it too.)
  static thread_local std::vector<FChildrenDictionaryRef>* freeing = nullptr;
  if (freeing) {
    deleteOrders(orders_.load(std::memory_order_acquire));
    freeing->push_back(std::move(children_));
    return;
  }
  std::vector<FChildrenDictionaryRef> queue;  // allocates only when a child node comes free
  freeing = &queue;
  deleteOrders(orders_.load(std::memory_order_acquire));
  FChildrenDictionaryRef next = std::move(children_);
  for (;;) {
    next.reset();
    if (queue.empty()) break;
    next = std::move(queue.back());
    queue.pop_back();
  }
  freeing = nullptr;
}

const FNodeRef& FEmptyNode::emptyNode() {
  static const FNodeRef& instance = *new FNodeRef(std::make_shared<const FChildrenNode>());
  return instance;
}

FNodeRef FChildrenNode::getPriority() const { return priority_ ? priority_ : FEmptyNode::emptyNode(); }

FNodeRef FChildrenNode::updatePriority(const FNodeRef& priority) const {
  if (children_->isEmpty()) return FEmptyNode::emptyNode();
  auto made = std::make_shared<const FChildrenNode>(priority, children_, KnownCount(childrenWithPriority_));
  // The same children in the same orders.
  carryOrdersTo(*made, std::string(), nullptr, nullptr);
  return made;
}

FNodeRef FChildrenNode::getImmediateChild(const std::string& key) const {
  if (key == ".priority") return getPriority();
  const FNodeRef* child = children_->lookup(key);
  return child ? *child : FEmptyNode::emptyNode();
}

FNodeRef FChildrenNode::childrenGetter(const std::string& key) const {
  auto child = children_->get(key);
  return child ? *child : nullptr;
}

FNodeRef FChildrenNode::getChild(const FPathRef& path) const {
  // A loop rather than a call per key: a path may be far longer than the tree is deep.
  FNodeRef node = self();
  FPathRef rest = path;
  while (auto front = rest->getFront()) {
    if (node->isLeafNode()) return node->getChild(rest);
    if (node->isEmpty()) return node;
    node = node->getImmediateChild(*front);
    rest = rest->popFront();
  }
  return node;
}

std::optional<std::string> FChildrenNode::predecessorChildKey(const std::string& key) const {
  return children_->getPredecessorKey(key);
}

FNodeRef FChildrenNode::updateImmediateChild(const std::string& key, const FNodeRef& newChild) const {
  if (key == ".priority") return updatePriority(newChild);
  FChildrenDictionaryRef newChildren =
      newChild->isEmpty() ? children_->removeKey(key) : children_->insertKey(key, newChild);
  if (newChildren->isEmpty()) return FEmptyNode::emptyNode();
  int32_t withPriority = childrenWithPriority_;
  if (withPriority > 0) {
    // Only then can the replaced child have carried one.
    auto old = children_->get(key);
    if (old && carriesPriority(**old)) --withPriority;
  }
  if (!newChild->isEmpty() && carriesPriority(*newChild)) ++withPriority;
  FNodeRef made = withChildren(std::move(newChildren), withPriority);
  if (orders_.load(std::memory_order_acquire)) {
    carryOrdersTo(static_cast<const FChildrenNode&>(*made), key, getImmediateChild(key), newChild);
  }
  return made;
}

FNodeRef FChildrenNode::withChildren(FChildrenDictionaryRef children, int32_t childrenWithPriority) const {
  // From the node allocator, as the dictionary's nodes: a listener's versions are let go on the
  // callback queue, and the depot brings their blocks back to the thread that makes the next.
  return std::allocate_shared<const FChildrenNode>(FNodeAllocator<FChildrenNode>(), getPriority(), std::move(children),
                                                   KnownCount(childrenWithPriority));
}

FNodeRef FChildrenNode::updateImmediateChildUnlessEqual(const std::string& key, const FNodeRef& newChild,
                                                        FNodeRef& oldChild) const {
  if (key == ".priority" || newChild->isEmpty()) {
    oldChild = getImmediateChild(key);
    if (oldChild->isEqual(*newChild)) return nullptr;
    return updateImmediateChild(key, newChild);
  }
  const FNodeRef* found = nullptr;
  FChildrenDictionaryRef newChildren = children_->insertKeyUnless(key, newChild, [&](const FNodeRef& stored) {
    found = &stored;  // held by this node's dictionary, which outlives the call
    return stored->isEqual(*newChild);
  });
  oldChild = found ? *found : FEmptyNode::emptyNode();
  if (!newChildren) return nullptr;
  int32_t withPriority = childrenWithPriority_;
  if (found && carriesPriority(**found)) --withPriority;
  if (carriesPriority(*newChild)) ++withPriority;
  FNodeRef made = withChildren(std::move(newChildren), withPriority);
  if (orders_.load(std::memory_order_acquire)) {
    carryOrdersTo(static_cast<const FChildrenNode&>(*made), key, oldChild, newChild);
  }
  return made;
}

void FChildrenNode::carryOrdersTo(const FChildrenNode& made, const std::string& key, const FNodeRef& oldChild,
                                  const FNodeRef& newChild) const {
  // `made` is not shared yet: its list is made whole, in the same order as this one's, and then
  // put in place.
  KeptOrder* head = nullptr;
  KeptOrder** tail = &head;
  int carried = 0;
  for (KeptOrder* order = orders_.load(std::memory_order_acquire); order && carried < kOrdersCarried;
       order = order->next, ++carried) {
    FNamedNodeSetRef children = order->children;
    if (oldChild && !oldChild->isEmpty()) children = children->removeObject(FNamedNode::nodeWithName(key, oldChild));
    if (newChild && !newChild->isEmpty()) children = children->addObject(FNamedNode::nodeWithName(key, newChild));
    *tail = new KeptOrder{order->index, std::move(children), nullptr};
    tail = &(*tail)->next;
  }
  made.orders_.store(head, std::memory_order_release);
}

void FChildrenNode::deleteOrders(KeptOrder* orders) {
  while (orders) {
    KeptOrder* next = orders->next;
    delete orders;
    orders = next;
  }
}

FNamedNodeSetRef FChildrenNode::childrenInOrderIfKept(const FIndex& index) const {
  for (KeptOrder* order = orders_.load(std::memory_order_acquire); order; order = order->next) {
    if (order->index->isEqual(index)) return order->children;
  }
  return nullptr;
}

FNamedNodeSetRef FChildrenNode::childrenInOrder(const FIndexRef& index) const {
  if (FNamedNodeSetRef kept = childrenInOrderIfKept(*index)) return kept;
  FNamedNodeSetRef sorted = FNamedNodeSet::setWithSortedMembers(index->sortedChildren(*this), index->namedNodeComparator());
  auto* entry = new KeptOrder{index, sorted, orders_.load(std::memory_order_acquire)};
  do {
    // Another thread may have put this order in while this one sorted.
    for (KeptOrder* order = entry->next; order; order = order->next) {
      if (order->index->isEqual(*index)) {
        delete entry;
        return order->children;
      }
    }
  } while (!orders_.compare_exchange_weak(entry->next, entry, std::memory_order_acq_rel, std::memory_order_acquire));
  return sorted;
}

FNamedNodeRef FChildrenNode::childAfter(const FNamedNode& post, const FIndexRef& index, bool reverse) const {
  if (children_->isEmpty()) return nullptr;
  if (index->isEqual(*FKeyIndex::keyIndex())) {
    // The key order compares names alone.
    auto [key, child] = children_->entryAfter(post.name(), reverse);
    return key ? FNamedNode::nodeWithName(*key, *child) : nullptr;
  }
  FNamedNodeSetRef sorted = childrenInOrder(index);
  const FNamedNodeRef* next = sorted->memberAfter(FNamedNode::nodeWithName(post.name(), post.node()), reverse);
  return next ? *next : nullptr;
}

FNodeRef FChildrenNode::updateChild(const FPathRef& path, const FNodeRef& newChild) const {
  const auto front = path->getFront();
  if (!front) return newChild;
  FNodeRef updated = getImmediateChild(*front)->updateChild(path->popFront(), newChild);
  return updateImmediateChild(*front, updated);
}

bool FChildrenNode::hasChild(const std::string& key) const { return !getImmediateChild(key)->isEmpty(); }

namespace {

// The plain value of an interior node whose children are already in `obj`: with the export flag
// the mapping with its priority; without, an array when every key is an index and the largest is
// below twice the number of keys, else the mapping.
void finishExport(const FChildrenNode& node, Value& obj, bool exp) {
  if (exp) {
    FNodeRef priority = node.getPriority();
    if (!priority->isEmpty()) obj[".priority"] = priority->val();
    return;
  }
  int64_t numKeys = 0;
  int64_t maxKey = 0;
  bool allIntegerKeys = true;
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    const std::string& key = it.key();
    ++numKeys;
    if (!allIntegerKeys) continue;
    if (key.size() > 1 && key[0] == '0') {
      allIntegerKeys = false;
      continue;
    }
    const auto number = FUtilities::intForString(key);
    if (!number) {
      allIntegerKeys = false;
    } else if (*number > maxKey) {
      maxKey = *number;
    }
  }
  if (allIntegerKeys && maxKey < 2 * numKeys) {
    Value array = Value::array();
    for (int64_t i = 0; i <= maxKey; ++i) {
      auto it = obj.find(std::to_string(i));
      array.push_back(it == obj.end() ? Value() : std::move(*it));
    }
    obj = std::move(array);
  }
}

}  // namespace

Value FChildrenNode::valForExport(bool exp) const {
  if (isEmpty()) return Value();
  // Built from a loop, not by a call per level: trees can be thousands of levels deep. Each node's
  // mapping is filled first, its interior children later, and it is finished after all of them.
  struct Pending {
    const FChildrenNode* node;
    Value* out;
    bool filled;
  };
  Value result;
  std::vector<Pending> pending{{this, &result, false}};
  while (!pending.empty()) {
    Pending& top = pending.back();
    if (top.filled) {
      finishExport(*top.node, *top.out, exp);
      pending.pop_back();
      continue;
    }
    top.filled = true;
    Value& obj = *top.out;
    obj = Value::object();
    top.node->children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      Value& slot = obj[key];  // a mapping keeps its elements in place as keys are added
      if (child->kind() == Kind::Leaf) {
        slot = child->valForExport(exp);
      } else {
        pending.push_back({static_cast<const FChildrenNode*>(child.get()), &slot, false});
      }
    });
  }
  return result;
}

std::string FChildrenNode::dataHash() const {
  if (!hashed_.load(std::memory_order_acquire)) {
    // The children's hashes first, deepest first, from a loop: computeHash then reads only the
    // cached hashes of the children, however deep the tree is.
    std::vector<std::pair<const FChildrenNode*, bool>> pending{{this, false}};
    while (!pending.empty()) {
      const auto [node, expanded] = pending.back();
      if (node->hashed_.load(std::memory_order_acquire)) {
        pending.pop_back();
      } else if (expanded) {
        pending.pop_back();
        node->computeHash();
      } else {
        pending.back().second = true;
        node->children_->enumerateKeysAndObjectsUsingBlock([&](const std::string&, const FNodeRef& child, bool*) {
          if (child->kind() == Kind::Leaf) return;
          const auto* interior = static_cast<const FChildrenNode*>(child.get());
          if (!interior->hashed_.load(std::memory_order_acquire)) pending.emplace_back(interior, false);
        });
      }
    }
  }
  return lazyHash_;
}

void FChildrenNode::computeHash() const {
  std::call_once(hashOnce_, [this] {
    std::string text;
    FNodeRef priority = getPriority();
    if (!priority->isEmpty()) {
      text += "priority:";
      if (!priority->isLeafNode()) {
        NSException::raise(NSInvalidArgumentException, "Unknown value for hashing: " + priority->description());
      }
      FSnapshotUtilities::appendHashRepresentationForLeafNode(static_cast<const FLeafNode&>(*priority), text, 0);
      text += ":";
    }
    // The child nodes stay alive in the children dictionary this node holds.
    std::vector<std::pair<std::string, const FNode*>> ordered;
    ordered.reserve(static_cast<size_t>(children_->count()));
    bool sawChildWithoutPriority = false;
    children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      ordered.emplace_back(key, child.get());
      if (!sawChildWithoutPriority && child->getPriority()->isEmpty()) sawChildWithoutPriority = true;
    });
    if (sawChildWithoutPriority) {
      const FIndex& index = *FPriorityIndex::priorityIndex();
      std::sort(ordered.begin(), ordered.end(), [&index](const auto& a, const auto& b) {
        return index.compare(a.first, *a.second, b.first, *b.second) < 0;
      });
    }
    for (const auto& [key, child] : ordered) {
      const std::string childHash = child->dataHash();
      if (childHash.empty()) continue;
      text += ":";
      text += key;
      text += ":";
      text += childHash;
    }
    lazyHash_ = text.empty() ? std::string() : FStringUtilities::base64EncodedSha1(text);
    hashed_.store(true, std::memory_order_release);
  });
}

int FChildrenNode::compare(const FNode& other) const {
  if (isEmpty()) return other.isEmpty() ? 0 : -1;
  if (other.kind() == Kind::Leaf || other.isEmpty()) return 1;
  if (other.kind() == Kind::Max) return -1;
  return 0;
}

bool FChildrenNode::isEqual(const FNode& other) const {
  // The usual answers, without the list of the walk below: the same node, or one that is no
  // children node (a leaf).
  if (this == &other) return true;
  if (other.kind() != Kind::Children) return false;
  // Pairs of nodes still to compare, walked from a loop rather than by a call per level.
  std::vector<std::pair<const FNode*, const FNode*>> pending{{this, &other}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if (a == b) continue;
    if (a->kind() != Kind::Children) {
      if (!a->isEqual(*b)) return false;  // a leaf: compared without descending
      continue;
    }
    if (b->kind() != Kind::Children) return false;
    const auto& mine = static_cast<const FChildrenNode&>(*a);
    const auto& theirs = static_cast<const FChildrenNode&>(*b);
    if (mine.isEmpty() && theirs.isEmpty()) continue;
    if (!mine.getPriority()->isEqual(*theirs.getPriority())) return false;
    if (mine.children_->count() != theirs.children_->count()) return false;
    // The other node's children stay alive in its dictionary (or are the shared empty node).
    mine.children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      pending.emplace_back(child.get(), theirs.getImmediateChild(key).get());
    });
  }
  return true;
}

void FChildrenNode::enumerateChildrenReverse(bool reverse, const FNodeChildBlock& block) const {
  children_->enumerateKeysAndObjectsReverse(reverse, block);
}

FNamedNodeEnumerator FChildrenNode::childEnumerator() const {
  FChildrenDictionaryRef children = children_;
  return std::make_shared<FTransformedEnumerator<std::string, FNamedNodeRef>>(
      children->keyEnumerator(), [children](const std::string& key) {
        return FNamedNode::nodeWithName(key, *children->get(key));
      });
}

uint64_t FChildrenNode::hash() const {
  // h = 31 h + hash(key), then h = 17 h + hash(child), for each child in key order; the result is
  // hash(priority) + 17 h. Computed from a loop: a child's hash is folded into its parent's when
  // the child is done.
  struct Pending {
    const FChildrenNode* node;
    std::vector<std::pair<uint64_t, const FNode*>> children;  // (hash of the key, child)
    size_t next = 0;
    uint64_t h = 0;
  };
  std::vector<Pending> pending;
  auto open = [&pending](const FChildrenNode* node) {
    Pending p{node, {}};
    p.children.reserve(static_cast<size_t>(node->children_->count()));
    node->children_->enumerateKeysAndObjectsUsingBlock([&p](const std::string& key, const FNodeRef& child, bool*) {
      p.children.emplace_back(static_cast<uint64_t>(std::hash<std::string>()(key)), child.get());
    });
    pending.push_back(std::move(p));
  };
  open(this);
  uint64_t result = 0;
  while (!pending.empty()) {
    Pending& top = pending.back();
    if (top.next < top.children.size()) {
      const auto [keyHash, child] = top.children[top.next];
      top.h = 31 * top.h + keyHash;
      if (child->kind() == Kind::Leaf) {
        top.h = 17 * top.h + child->hash();
        ++top.next;
      } else {
        open(static_cast<const FChildrenNode*>(child));  // `top` is not used after this
      }
      continue;
    }
    const uint64_t done = (top.node->priority_ ? top.node->priority_->hash() : 0) + 17 * top.h;
    pending.pop_back();
    if (pending.empty()) {
      result = done;
    } else {
      Pending& parent = pending.back();
      parent.h = 17 * parent.h + done;
      ++parent.next;
    }
  }
  return result;
}

FNamedNodeRef FChildrenNode::firstChild() const {
  auto key = children_->minKey();
  if (!key) return nullptr;
  return FNamedNode::nodeWithName(*key, *children_->get(*key));
}

FNamedNodeRef FChildrenNode::lastChild() const {
  auto key = children_->maxKey();
  if (!key) return nullptr;
  return FNamedNode::nodeWithName(*key, *children_->get(*key));
}

void FChildrenNode::enumerateChildrenAndPriorityUsingBlock(const FNodeChildBlock& block) const {
  FNodeRef priority = getPriority();
  if (priority->isEmpty()) {
    enumerateChildrenUsingBlock(block);
    return;
  }
  static const std::string& kPriorityKey = *new std::string(".priority");
  bool passedPriority = false;
  children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool* stop) {
    if (!passedPriority && FUtilities::compareKey(key, kPriorityKey) > 0) {
      passedPriority = true;
      block(kPriorityKey, priority, stop);
      if (*stop) return;
    }
    block(key, child, stop);
  });
}

// The maximum node.

const FNodeRef& FMaxNode::maxNode() {
  static const FNodeRef& instance = *new FNodeRef(std::make_shared<const FMaxNode>());
  return instance;
}

FNodeRef FMaxNode::getPriority() const { return FEmptyNode::emptyNode(); }

FNodeRef FMaxNode::getImmediateChild(const std::string&) const { return FEmptyNode::emptyNode(); }

int FMaxNode::compare(const FNode& other) const { return this == &other ? 0 : 1; }

bool FMaxNode::isEqual(const FNode& other) const { return this == &other; }
