#include "sdk/database/snapshot/FIndex.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"

FIndexRef FIndex::indexFromQueryDefinition(std::string_view definition) {
  if (definition == ".key") return FKeyIndex::keyIndex();
  if (definition == ".value") return FValueIndex::valueIndex();
  if (definition == ".priority") return FPriorityIndex::priorityIndex();
  return std::make_shared<const FPathIndex>(FPath::pathWithString(definition));
}

FNamedNodeRef FIndex::minPost() const { return FNamedNode::min(); }

std::function<int(const FNamedNodeRef&, const FNamedNodeRef&)> FIndex::namedNodeComparator() const {
  FIndexRef index = shared_from_this();
  return [index](const FNamedNodeRef& a, const FNamedNodeRef& b) { return index->compareNamedNode(*a, *b); };
}

std::vector<FNamedNodeRef> FIndex::sortedChildren(const FNode& node) const {
  std::vector<FNamedNodeRef> children;
  children.reserve(static_cast<size_t>(node.numChildren()));
  node.enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    children.push_back(FNamedNode::nodeWithName(key, child));
  });
  // A merge sort stays within bounds whatever the comparisons answer.
  std::stable_sort(children.begin(), children.end(),
                   [this](const FNamedNodeRef& a, const FNamedNodeRef& b) { return compareNamedNode(*a, *b) < 0; });
  return children;
}

// Key index.

// The shared indexes, like the database's other shared constants, are made once and never destroyed:
// work still running on the database's worker thread while the process exits may use them.
const FIndexRef& FKeyIndex::keyIndex() {
  static const FIndexRef& instance = *new FIndexRef(std::make_shared<const FKeyIndex>());
  return instance;
}

FKeyIndex::FKeyIndex() : maxPost_(FNamedNode::nodeWithName(FUtilities::maxName(), FEmptyNode::emptyNode())) {}

int FKeyIndex::compare(const std::string& key, const FNode&, const std::string& otherKey, const FNode&) const {
  return FUtilities::compareKey(key, otherKey);
}

FNamedNodeRef FKeyIndex::makePost(const FNodeRef& indexValue, const std::string&) const {
  const Value value = indexValue->val();
  // A key post carries the key text; any other value has no key form and gives the empty key.
  const std::string key = value.is_string() ? value.get<std::string>() : std::string();
  return FNamedNode::nodeWithName(key, FEmptyNode::emptyNode());
}

uint64_t FKeyIndex::hash() const { return std::hash<std::string>()(".key"); }

// Priority index.

const FIndexRef& FPriorityIndex::priorityIndex() {
  static const FIndexRef& instance = *new FIndexRef(std::make_shared<const FPriorityIndex>());
  return instance;
}

int FPriorityIndex::compare(const std::string& key, const FNode& node, const std::string& otherKey,
                            const FNode& otherNode) const {
  const int c = node.getPriority()->compare(*otherNode.getPriority());
  if (c != 0) return c;
  return FUtilities::compareKey(key, otherKey);
}

bool FPriorityIndex::isDefinedOn(const FNode& node) const { return !node.getPriority()->isEmpty(); }

bool FPriorityIndex::indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const {
  return !oldNode.getPriority()->isEqual(*newNode.getPriority());
}

FNamedNodeRef FPriorityIndex::maxPost() const { return makePost(FMaxNode::maxNode(), FUtilities::maxName()); }

FNamedNodeRef FPriorityIndex::makePost(const FNodeRef& indexValue, const std::string& name) const {
  return FNamedNode::nodeWithName(name, std::make_shared<const FLeafNode>(Value("[PRIORITY-POST]"), indexValue));
}

bool FPriorityIndex::isEqual(const FIndex& other) const {
  return dynamic_cast<const FPriorityIndex*>(&other) != nullptr;
}

// Value index.

const FIndexRef& FValueIndex::valueIndex() {
  static const FIndexRef& instance = *new FIndexRef(std::make_shared<const FValueIndex>());
  return instance;
}

int FValueIndex::compare(const std::string& key, const FNode& node, const std::string& otherKey,
                         const FNode& otherNode) const {
  const int c = node.compare(otherNode);
  if (c != 0) return c;
  return FUtilities::compareKey(key, otherKey);
}

bool FValueIndex::indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const {
  return !oldNode.isEqual(newNode);
}

FNamedNodeRef FValueIndex::maxPost() const { return FNamedNode::max(); }

FNamedNodeRef FValueIndex::makePost(const FNodeRef& indexValue, const std::string& name) const {
  return FNamedNode::nodeWithName(name, indexValue);
}

uint64_t FValueIndex::hash() const { return std::hash<std::string>()(".value"); }

// Path index.

FPathIndex::FPathIndex(FPathRef path) : path_(std::move(path)) {
  const auto front = path_ ? path_->getFront() : std::nullopt;
  if (!front || *front == ".priority") {
    NSException::raise(NSInvalidArgumentException,
                       "Invalid path for PathIndex: " + (path_ ? path_->toString() : std::string("(null)")));
  }
  if (path_->length() == 1) singleKey_ = *front;
}

int FPathIndex::compare(const std::string& key, const FNode& node, const std::string& otherKey,
                        const FNode& otherNode) const {
  const int c = valueAt(node)->compare(*valueAt(otherNode));
  if (c != 0) return c;
  return FUtilities::compareKey(key, otherKey);
}

FNodeRef FPathIndex::valueAt(const FNode& node) const {
  // Most queries order by a child of each child: one lookup, without walking a path.
  return singleKey_ ? node.getImmediateChild(*singleKey_) : node.getChild(path_);
}

std::vector<FNamedNodeRef> FPathIndex::sortedChildren(const FNode& node) const {
  struct Child {
    FNodeRef value;
    FNamedNodeRef named;
  };
  std::vector<Child> children;
  children.reserve(static_cast<size_t>(node.numChildren()));
  node.enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    children.push_back(Child{valueAt(*child), FNamedNode::nodeWithName(key, child)});
  });
  // The children are enumerated in key order, which breaks ties: a stable sort by value alone.
  std::stable_sort(children.begin(), children.end(),
                   [](const Child& a, const Child& b) { return a.value->compare(*b.value) < 0; });
  std::vector<FNamedNodeRef> sorted;
  sorted.reserve(children.size());
  for (Child& child : children) sorted.push_back(std::move(child.named));
  return sorted;
}

bool FPathIndex::isDefinedOn(const FNode& node) const { return !valueAt(node)->isEmpty(); }

bool FPathIndex::indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const {
  return valueAt(oldNode)->compare(*valueAt(newNode)) != 0;
}

FNamedNodeRef FPathIndex::maxPost() const {
  return FNamedNode::nodeWithName(FUtilities::maxName(),
                                  FEmptyNode::emptyNode()->updateChild(path_, FMaxNode::maxNode()));
}

FNamedNodeRef FPathIndex::makePost(const FNodeRef& indexValue, const std::string& name) const {
  return FNamedNode::nodeWithName(name, FEmptyNode::emptyNode()->updateChild(path_, indexValue));
}

std::string FPathIndex::queryDefinition() const { return path_->wireFormat(); }

std::string FPathIndex::description() const { return "FPathIndex(" + path_->toString() + ")"; }

bool FPathIndex::isEqual(const FIndex& other) const {
  const auto* index = dynamic_cast<const FPathIndex*>(&other);
  return index && index->path_->isEqual(*path_);
}

uint64_t FPathIndex::hash() const { return path_->hash(); }
