#pragma once
// An immutable record of a change that reaches the sync tree: what happened, where, and where it
// came from. The sync tree walks it down key by key with operationForChild.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FImmutableTree.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FOperationSource.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FNode.h"

class FOperation;
using FOperationRef = std::shared_ptr<const FOperation>;

enum FOperationType : int32_t {
  FOperationTypeOverwrite = 0,
  FOperationTypeMerge = 1,
  FOperationTypeAckUserWrite = 2,
  FOperationTypeListenComplete = 3,
};

class FOperation : public std::enable_shared_from_this<FOperation> {
 public:
  virtual ~FOperation() = default;
  // The operation as seen from the child, or null when the child is not affected.
  virtual FOperationRef operationForChild(const std::string& childKey) const = 0;
  virtual const FOperationSourceRef& source() const = 0;
  virtual int32_t type() const = 0;
  virtual const FPathRef& path() const = 0;
  virtual std::string description() const = 0;
};

// An operation lives while one change walks the sync tree, which makes one per level on the work
// queue: it comes from the node allocator's per-thread cache rather than the global heap.
template <typename T, typename... Args>
std::shared_ptr<const T> makeOperation(Args&&... args) {
  return std::allocate_shared<const T>(FNodeAllocator<T>(), std::forward<Args>(args)...);
}

class FOverwrite : public FOperation {
 public:
  FOverwrite(FOperationSourceRef source, FPathRef path, FNodeRef snap);
  FOperationRef operationForChild(const std::string& childKey) const override;
  const FOperationSourceRef& source() const override { return source_; }
  int32_t type() const override { return FOperationTypeOverwrite; }
  const FPathRef& path() const override { return path_; }
  const FNodeRef& snap() const { return snap_; }
  std::string description() const override;

 private:
  FOperationSourceRef source_;
  FPathRef path_;
  FNodeRef snap_;
};

class FMerge : public FOperation {
 public:
  FMerge(FOperationSourceRef source, FPathRef path, FCompoundWriteRef children);
  FOperationRef operationForChild(const std::string& childKey) const override;
  const FOperationSourceRef& source() const override { return source_; }
  int32_t type() const override { return FOperationTypeMerge; }
  const FPathRef& path() const override { return path_; }
  const FCompoundWriteRef& children() const { return children_; }
  std::string description() const override;

 private:
  FOperationSourceRef source_;
  FPathRef path_;
  FCompoundWriteRef children_;
};

using FAffectedTree = FImmutableTree<bool>;
using FAffectedTreeRef = FAffectedTree::Ref;

class FAckUserWrite : public FOperation {
 public:
  FAckUserWrite(FPathRef path, FAffectedTreeRef affectedTree, bool revert);
  FOperationRef operationForChild(const std::string& childKey) const override;
  const FOperationSourceRef& source() const override { return FOperationSource::userInstance(); }
  int32_t type() const override { return FOperationTypeAckUserWrite; }
  const FPathRef& path() const override { return path_; }
  const FAffectedTreeRef& affectedTree() const { return affectedTree_; }
  bool revert() const { return revert_; }
  std::string description() const override;

 private:
  FPathRef path_;
  FAffectedTreeRef affectedTree_;
  bool revert_;
};

class FListenComplete : public FOperation {
 public:
  FListenComplete(FOperationSourceRef source, FPathRef path);
  FOperationRef operationForChild(const std::string& childKey) const override;
  const FOperationSourceRef& source() const override { return source_; }
  int32_t type() const override { return FOperationTypeListenComplete; }
  const FPathRef& path() const override { return path_; }
  std::string description() const override;

 private:
  FOperationSourceRef source_;
  FPathRef path_;
};

class FEvent;
class FSyncTreeHash;
class FQuerySpec;

// The two blocks through which the sync tree sends and withdraws listens.
struct FListenProvider {
  using EventList = std::vector<std::shared_ptr<const FEvent>>;
  using Completion = std::function<EventList(const std::string& status)>;
  std::function<EventList(const std::shared_ptr<const FQuerySpec>& query, std::optional<uint64_t> tagId,
                          const std::shared_ptr<const FSyncTreeHash>& hash, const Completion& onComplete)>
      startListening;
  std::function<void(const std::shared_ptr<const FQuerySpec>& query, std::optional<uint64_t> tagId)> stopListening;
};
