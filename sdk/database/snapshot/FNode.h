#pragma once
// A snapshot node: an immutable value of the database tree. A leaf (string, number, boolean, or a
// not yet resolved server value) or an interior node of named children; either may carry a
// priority, reached as the pseudo-child ".priority". Updates build new nodes that share every
// unchanged subtree with the old ones, so nodes are shared freely between threads.
//
// Nodes must be owned by a std::shared_ptr (the constructors are used through std::make_shared),
// because operations that change nothing hand back the receiver itself.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "sdk/database/core/NSEnumerator.h"

class FNode;
class FNamedNode;
class FPath;
using FNodeRef = std::shared_ptr<const FNode>;
using FNamedNodeRef = std::shared_ptr<const FNamedNode>;
using FPathRef = std::shared_ptr<const FPath>;
using FNamedNodeEnumerator = NSEnumeratorRef<FNamedNodeRef>;

// (key, child, stop flag): setting *stop ends the enumeration right after this call.
using FNodeChildBlock = std::function<void(const std::string& key, const FNodeRef& child, bool* stop)>;

class FNode : public std::enable_shared_from_this<FNode> {
 public:
  enum class Kind { Leaf, Children, Max };

  virtual ~FNode() = default;
  virtual Kind kind() const = 0;

  virtual bool isLeafNode() const = 0;
  // A leaf, or the empty node when there is no priority.
  virtual FNodeRef getPriority() const = 0;
  virtual FNodeRef updatePriority(const FNodeRef& priority) const = 0;
  // Never null: the empty node stands for a missing child.
  virtual FNodeRef getImmediateChild(const std::string& key) const = 0;
  virtual FNodeRef getChild(const FPathRef& path) const = 0;
  virtual std::optional<std::string> predecessorChildKey(const std::string& key) const = 0;
  virtual FNodeRef updateImmediateChild(const std::string& key, const FNodeRef& newChild) const = 0;
  virtual FNodeRef updateChild(const FPathRef& path, const FNodeRef& newChild) const = 0;
  virtual bool hasChild(const std::string& key) const = 0;
  virtual bool isEmpty() const = 0;
  virtual int32_t numChildren() const = 0;
  Value val() const { return valForExport(false); }
  // The plain value; with `exp` priorities are included as ".priority" / ".value".
  virtual Value valForExport(bool exp) const = 0;
  // Base64 of the SHA-1 of the node's hash text, or "" for the empty node. Computed once per node.
  virtual std::string dataHash() const = 0;
  // -1, 0 or 1: empty < leaves < non-empty interior nodes (all equal) < the maximum node.
  virtual int compare(const FNode& other) const = 0;
  virtual bool isEqual(const FNode& other) const = 0;
  void enumerateChildrenUsingBlock(const FNodeChildBlock& block) const {
    enumerateChildrenReverse(false, block);
  }
  virtual void enumerateChildrenReverse(bool reverse, const FNodeChildBlock& block) const = 0;
  // FNamedNode per child in key order, made one at a time.
  virtual FNamedNodeEnumerator childEnumerator() const = 0;
  virtual uint64_t hash() const = 0;
  // The text of valForExport(true).
  std::string description() const;

  FNodeRef self() const { return shared_from_this(); }
};

namespace fnode {
// The type name of a plain value as hash texts and the leaf order use it: "object", "string",
// "boolean", "number" or "null". Integers and floating-point numbers are one kind.
const char* typeName(const Value& value);
}  // namespace fnode
