#pragma once
// A write tree bound to one path, so that a view asks its questions without knowing where it
// sits. Every operation forwards to the write tree with the bound path. Holds the tree strongly;
// used on the work queue only. The last child asked for is kept: an operation walks down the
// same few keys to its sync points again and again, and the bound path and tree never change.
#include <memory>
#include <string>

#include "sdk/database/core/FWriteTree.h"

class FWriteTreeRef {
 public:
  FWriteTreeRef(FPathRef path, std::shared_ptr<const FWriteTree> writeTree);

  const FPathRef& path() const { return path_; }
  const std::shared_ptr<const FWriteTree>& writeTree() const { return writeTree_; }

  // Visible writes only, nothing excluded.
  FNodeRef calculateCompleteEventCacheWithCompleteServerCache(const FNodeRef& completeServerCache) const;
  FNodeRef calculateCompleteEventChildrenWithCompleteServerChildren(const FNodeRef& completeServerChildren) const;
  FNodeRef calculateEventCacheAfterServerOverwriteWithChildPath(const FPathRef& childPath,
                                                                const FNodeRef& existingEventSnap,
                                                                const FNodeRef& existingServerSnap) const;
  // The path is relative to the bound path.
  FNodeRef shadowingWriteAtPath(const FPathRef& path) const;
  FNamedNodeRef calculateNextNodeAfterPost(const FNamedNodeRef& post, const FNodeRef& completeServerData,
                                           bool reverse, const FIndexRef& index) const;
  FNodeRef calculateCompleteChild(const std::string& childKey, const FCacheNode& existingServerCache) const;
  FWriteTreeRefPtr childWriteTreeRef(const std::string& childKey) const;
  // Whether a visible write at, above or below the bound path depends on the order in which the
  // writes are laid over the server's data.
  bool hasWritesDependingOnOrder() const;

 private:
  FPathRef path_;
  std::shared_ptr<const FWriteTree> writeTree_;
  mutable FWriteTreeRefPtr lastChild_;
};
