#include "sdk/database/snapshot/FChildrenNode.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/NSException.h"
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

FChildrenNode::FChildrenNode(FChildrenDictionaryRef children) : children_(std::move(children)) {
  if (!children_) children_ = emptyChildren();
}

FChildrenNode::FChildrenNode(FNodeRef priority, FChildrenDictionaryRef children)
    : children_(std::move(children)), priority_(std::move(priority)) {
  if (!children_) children_ = emptyChildren();
  if (children_->isEmpty() && priority_ && !priority_->isEmpty()) {
    NSException::raise(NSInvalidArgumentException, "Can't create empty node with priority!");
  }
}

const FNodeRef& FEmptyNode::emptyNode() {
  static const FNodeRef instance = std::make_shared<const FChildrenNode>();
  return instance;
}

FNodeRef FChildrenNode::getPriority() const { return priority_ ? priority_ : FEmptyNode::emptyNode(); }

FNodeRef FChildrenNode::updatePriority(const FNodeRef& priority) const {
  if (children_->isEmpty()) return FEmptyNode::emptyNode();
  return std::make_shared<const FChildrenNode>(priority, children_);
}

FNodeRef FChildrenNode::getImmediateChild(const std::string& key) const {
  if (key == ".priority") return getPriority();
  auto child = children_->get(key);
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
  return std::make_shared<const FChildrenNode>(getPriority(), newChildren);
}

FNodeRef FChildrenNode::updateChild(const FPathRef& path, const FNodeRef& newChild) const {
  const auto front = path->getFront();
  if (!front) return newChild;
  FNodeRef updated = getImmediateChild(*front)->updateChild(path->popFront(), newChild);
  return updateImmediateChild(*front, updated);
}

bool FChildrenNode::hasChild(const std::string& key) const { return !getImmediateChild(key)->isEmpty(); }

Value FChildrenNode::valForExport(bool exp) const {
  if (isEmpty()) return Value();
  Value obj = Value::object();
  int64_t numKeys = 0;
  int64_t maxKey = 0;
  bool allIntegerKeys = true;
  children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    obj[key] = child->valForExport(exp);
    ++numKeys;
    if (!allIntegerKeys) return;
    if (key.size() > 1 && key[0] == '0') {
      allIntegerKeys = false;
      return;
    }
    const auto number = FUtilities::intForString(key);
    if (!number) {
      allIntegerKeys = false;
    } else if (*number > maxKey) {
      maxKey = *number;
    }
  });
  if (exp) {
    FNodeRef priority = getPriority();
    if (!priority->isEmpty()) obj[".priority"] = priority->val();
    return obj;
  }
  if (allIntegerKeys && maxKey < 2 * numKeys) {
    Value array = Value::array();
    for (int64_t i = 0; i <= maxKey; ++i) {
      auto it = obj.find(std::to_string(i));
      array.push_back(it == obj.end() ? Value() : *it);
    }
    return array;
  }
  return obj;
}

std::string FChildrenNode::dataHash() const {
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
  });
  return lazyHash_;
}

int FChildrenNode::compare(const FNode& other) const {
  if (isEmpty()) return other.isEmpty() ? 0 : -1;
  if (other.kind() == Kind::Leaf || other.isEmpty()) return 1;
  if (other.kind() == Kind::Max) return -1;
  return 0;
}

bool FChildrenNode::isEqual(const FNode& other) const {
  if (this == &other) return true;
  if (other.kind() != Kind::Children) return false;
  const auto& node = static_cast<const FChildrenNode&>(other);
  if (isEmpty() && node.isEmpty()) return true;
  if (!getPriority()->isEqual(*node.getPriority())) return false;
  if (children_->count() != node.children_->count()) return false;
  bool equal = true;
  children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool* stop) {
    if (!node.getImmediateChild(key)->isEqual(*child)) {
      equal = false;
      *stop = true;
    }
  });
  return equal;
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
  uint64_t h = 0;
  children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    h = 31 * h + static_cast<uint64_t>(std::hash<std::string>()(key));
    h = 17 * h + child->hash();
  });
  return (priority_ ? priority_->hash() : 0) + 17 * h;
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
  static const std::string kPriorityKey = ".priority";
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
  static const FNodeRef instance = std::make_shared<const FMaxNode>();
  return instance;
}

FNodeRef FMaxNode::getPriority() const { return FEmptyNode::emptyNode(); }

FNodeRef FMaxNode::getImmediateChild(const std::string&) const { return FEmptyNode::emptyNode(); }

int FMaxNode::compare(const FNode& other) const { return this == &other ? 0 : 1; }

bool FMaxNode::isEqual(const FNode& other) const { return this == &other; }
