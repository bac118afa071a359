#pragma once
// Where a node filter gets what its view cannot tell by itself: the full value of a child, and
// the child that comes next after a given one in an ordering.
#include <memory>
#include <string>

#include "sdk/database/snapshot/FIndex.h"
#include "sdk/database/snapshot/FNode.h"
#include "sdk/database/snapshot/FNamedNode.h"

class FCompleteChildSource {
 public:
  virtual ~FCompleteChildSource() = default;
  // The complete value of the child under `key`, or null when it cannot be known.
  virtual FNodeRef completeChild(const std::string& key) const = 0;
  // The first complete child after `child` in the index's order (reversed with `reverse`), or null.
  virtual FNamedNodeRef childByIndex(const FIndexRef& index, const FNamedNodeRef& child, bool reverse) const = 0;

  // The child of `node` that comes first after `post` in the index's order (reversed with
  // `reverse`), or null: one descent of the order the node keeps for the index.
  static FNamedNodeRef childAfterPost(const FNode& node, const FNamedNode& post, bool reverse, const FIndexRef& index);
};

using FCompleteChildSourceRef = std::shared_ptr<const FCompleteChildSource>;

// Knows nothing: for places where only the cache itself is to be trusted. One shared instance.
class FNoCompleteChildSource : public FCompleteChildSource {
 public:
  static const std::shared_ptr<const FNoCompleteChildSource>& instance();
  FNodeRef completeChild(const std::string&) const override { return nullptr; }
  FNamedNodeRef childByIndex(const FIndexRef&, const FNamedNodeRef&, bool) const override { return nullptr; }
};

// Knows the complete server data of the location and nothing of user writes: for a view's server
// cache, which holds what the server holds.
class FServerDataCompleteChildSource : public FCompleteChildSource {
 public:
  explicit FServerDataCompleteChildSource(FNodeRef completeServerData) : data_(std::move(completeServerData)) {}
  FNodeRef completeChild(const std::string& key) const override { return data_->getImmediateChild(key); }
  FNamedNodeRef childByIndex(const FIndexRef& index, const FNamedNodeRef& child, bool reverse) const override;

 private:
  FNodeRef data_;
};
