#pragma once
// The user writes that the server has not acknowledged yet, in the order they were made, and the
// answers views and transactions need of them: what the user sees at a path given the server's
// data, which children are complete, whether a write shadows a path, which child comes next in an
// ordering once local writes are laid over server data.
//
// Beside the list of records, one compound write of all visible writes (layered at the root)
// keeps the common questions cheap; the full layering over every record runs only when writes are
// to be excluded or hidden writes included (transactions), or after a removal that overlapped
// other writes. A hidden write never enters the visible compound write, not even through a
// rebuild.
//
// One write tree belongs to each sync tree; used on the work queue only, without locks.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "sdk/database/core/FCacheNode.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FWriteRecord.h"
#include "sdk/database/snapshot/FIndex.h"

class FWriteTreeRef;
using FWriteTreeRefPtr = std::shared_ptr<const FWriteTreeRef>;

class FWriteTree : public std::enable_shared_from_this<FWriteTree> {
 public:
  using Filter = std::function<bool(const FWriteRecord&)>;

  FWriteTree();

  const std::vector<FWriteRecordRef>& allWrites() const { return allWrites_; }
  int64_t lastWriteId() const { return lastWriteId_; }
  // Every visible write laid over the others in order, at the root.
  const FCompoundWriteRef& visibleWrites() const {
    if (laid_ != allWrites_.size()) layPendingWrites();
    return visibleWrites_;
  }

  // A reference to this tree bound to the path.
  FWriteTreeRefPtr childWritesForPath(const FPathRef& path) const;

  void addOverwriteAtPath(const FPathRef& path, const FNodeRef& newData, int64_t writeId, bool isVisible);
  void addMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren, int64_t writeId);
  FWriteRecordRef writeForId(int64_t writeId) const;
  // Removes the write; YES when what the user sees may have changed and must be recomputed. NO
  // only when the write was hidden, or a later write covers it while no write depends on the
  // order the writes are laid in: a write can change more than its own location (data below a
  // leaf replaces the leaf; a removal may empty the locations above it, and data may keep them
  // from being emptied), which a later write there does not undo. An id that is not held raises
  // "ZirezizeDatabaseInternalError".
  bool removeWriteId(int64_t writeId);
  // Every record, in order; the tree is left empty with lastWriteId unchanged.
  std::vector<FWriteRecordRef> removeAllWrites();

  // The node that visible writes alone fix at the path, or null.
  FNodeRef completeWriteDataAtPath(const FPathRef& path) const;
  FNodeRef shadowingWriteAtPath(const FPathRef& path) const;

  // What the user sees at the path with the given writes left out (hidden writes too when asked),
  // or null when the writes and the server cache do not determine it.
  FNodeRef calculateCompleteEventCacheAtPath(const FPathRef& treePath, const FNodeRef& completeServerCache,
                                             const std::optional<std::vector<int64_t>>& excludeWriteIds,
                                             bool includeHiddenWrites) const;
  // The children the user sees at the path, from the known server children and the writes.
  FNodeRef calculateCompleteEventChildrenAtPath(const FPathRef& treePath, const FNodeRef& completeServerChildren) const;
  // The server's new data at the child path as the user sees it, or null when a write hides it.
  FNodeRef calculateEventCacheAfterServerOverwriteAtPath(const FPathRef& treePath, const FPathRef& childPath,
                                                         const FNodeRef& existingEventSnap,
                                                         const FNodeRef& existingServerSnap) const;
  FNodeRef calculateCompleteChildAtPath(const FPathRef& treePath, const std::string& childKey,
                                        const FCacheNode& existingServerCache) const;
  // The child that sorts right after the post once the writes are laid over the server data.
  FNamedNodeRef calculateNextNodeAfterPost(const FNamedNodeRef& post, const FPathRef& treePath,
                                           const FNodeRef& completeServerData, bool reverse,
                                           const FIndexRef& index) const;

  // record:containsPath:
  static bool recordContainsPath(const FWriteRecord& record, const FPath& path);
  // Whether a location one record writes lies at, above or below one the other writes: a merge
  // writes at its paths below its own path, not at that path.
  static bool recordsOverlap(const FWriteRecord& first, const FWriteRecord& second);
  void resetTree();
  // The filter of resetTree: the records that are visible.
  static const Filter& defaultFilter();
  static FCompoundWriteRef layerTreeFromWrites(const std::vector<FWriteRecordRef>& writes, const Filter& filter,
                                               const FPathRef& treeRoot);
  // Whether a visible write at, above or below the path depends on the order in which the writes
  // are laid over the data.
  bool hasWritesDependingOnOrderAt(const FPathRef& path) const;
  // Whether what the record shows depends on when it is laid over the data: a removal may empty a
  // location for a moment, which drops its priority, or remove what an earlier write put below a
  // leaf, which had replaced the leaf's value; a priority holds only on a location that has data
  // at that moment.
  static bool dependsOnOrder(const FWriteRecord& record);
  // The records that the filter takes, laid over the node at the tree root one after the other in
  // the order they were made.
  static FNodeRef applyWritesInOrder(const std::vector<FWriteRecordRef>& writes, const Filter& filter,
                                     const FPathRef& treeRoot, FNodeRef node);

 private:
  // The visible writes at and below the path (writesBelow, taken from the visible compound write)
  // laid over the node at the path. The compound write holds one value per location and so has
  // lost the order of writes to sibling locations; that order matters only while a visible write
  // depends on it, and then the records themselves are laid over the node in order.
  FNodeRef applyVisibleWrites(const FCompoundWriteRef& writesBelow, const FPathRef& path, const FNodeRef& node) const;

  // Calls the block with each location the record writes until the block returns NO.
  static void forEachWrittenPath(const FWriteRecord& record, const std::function<bool(const FPath&)>& block);

  // Lays the visible overwrites made since visibleWrites_ was last brought up to date into it.
  void layPendingWrites() const;

  std::vector<FWriteRecordRef> allWrites_;
  int64_t lastWriteId_ = -1;
  // An overwrite is laid into the visible compound write when something next asks for it, not
  // when it is made: a run of writes that nothing reads in between (a user writing while offline,
  // every write waiting for the server) costs one record each, and the compound write, once asked
  // for, is the same as if each had been laid at once (they are laid in order, in place). The
  // first laid_ records of allWrites_ are in visibleWrites_; only overwrites wait beyond them.
  mutable FCompoundWriteRef visibleWrites_;
  mutable size_t laid_ = 0;
  // How many visible records depend on the order in which writes are laid over the data.
  size_t visibleWritesDependingOnOrder_ = 0;
};
