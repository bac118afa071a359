#pragma once
// One user write that the server has not acknowledged yet: an overwrite of one location with a
// node, or a merge (a multi-path update) of a compound write at a location. Exactly one of the two
// is held. A write that is not visible (a transaction run without applying it locally) is kept for
// transactions but never shows in what the user sees. Never changes after construction.
//
// Write ids are handed out by the repository, unique and strictly increasing; the write tree, the
// persistence layer and acknowledgements name a write by its id.
//
// A stored write comes back with the id it was stored under, and the repository's next ids follow
// the last one restored: an id read from disk is taken only between kMinStoredWriteId and
// kMaxStoredWriteId (isStorableWriteId), which leaves 2^62 ids above the highest (a million writes
// a second for over 100,000 years) before the counter could overflow, and keeps the lowest clear
// of the "nothing seen yet" mark that restoring starts from.
#include <cstdint>
#include <memory>
#include <string>

#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FNode.h"

class FWriteRecord;
using FWriteRecordRef = std::shared_ptr<const FWriteRecord>;

class FWriteRecord {
 public:
  static constexpr int64_t kMaxStoredWriteId = int64_t{1} << 62;
  static constexpr int64_t kMinStoredWriteId = -kMaxStoredWriteId;
  static constexpr bool isStorableWriteId(int64_t writeId) {
    return writeId >= kMinStoredWriteId && writeId <= kMaxStoredWriteId;
  }

  // An overwrite record. Raises NSInvalidArgumentException "Can't pass nil as overwrite parameter
  // to an overwrite write record" for a null node.
  FWriteRecord(FPathRef path, FNodeRef overwrite, int64_t writeId, bool visible);
  // A merge record, always visible. Raises NSInvalidArgumentException "Can't pass nil as merge
  // parameter to an merge write record" for a null merge.
  FWriteRecord(FPathRef path, FCompoundWriteRef merge, int64_t writeId);

  bool visible() const { return visible_; }
  int64_t writeId() const { return writeId_; }
  const FPathRef& path() const { return path_; }
  bool isMerge() const { return merge_ != nullptr; }
  bool isOverwrite() const { return overwrite_ != nullptr; }

  // The node of an overwrite; raises NSInvalidArgumentException "Can't get overwrite for merge
  // write record!" on a merge record.
  const FNodeRef& overwrite() const;
  // The compound write of a merge; raises NSInvalidArgumentException "Can't get merge for
  // overwrite write record!" on an overwrite record.
  const FCompoundWriteRef& compoundWrite() const;
  // The merge field as it is: null on an overwrite record.
  const FCompoundWriteRef& merge() const { return merge_; }

  std::string description() const;
  bool isEqual(const FWriteRecord& other) const;
  uint64_t hash() const;

 private:
  FPathRef path_;
  FNodeRef overwrite_;
  FCompoundWriteRef merge_;
  int64_t writeId_;
  bool visible_;
};
