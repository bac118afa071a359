#include "sdk/database/core/FWriteTreeRef.h"

FWriteTreeRef::FWriteTreeRef(FPathRef path, std::shared_ptr<const FWriteTree> writeTree)
    : path_(std::move(path)), writeTree_(std::move(writeTree)) {}

FNodeRef FWriteTreeRef::calculateCompleteEventCacheWithCompleteServerCache(const FNodeRef& completeServerCache) const {
  return writeTree_->calculateCompleteEventCacheAtPath(path_, completeServerCache, std::nullopt, false);
}

FNodeRef FWriteTreeRef::calculateCompleteEventChildrenWithCompleteServerChildren(
    const FNodeRef& completeServerChildren) const {
  return writeTree_->calculateCompleteEventChildrenAtPath(path_, completeServerChildren);
}

FNodeRef FWriteTreeRef::calculateEventCacheAfterServerOverwriteWithChildPath(const FPathRef& childPath,
                                                                             const FNodeRef& existingEventSnap,
                                                                             const FNodeRef& existingServerSnap) const {
  return writeTree_->calculateEventCacheAfterServerOverwriteAtPath(path_, childPath, existingEventSnap,
                                                                   existingServerSnap);
}

FNodeRef FWriteTreeRef::shadowingWriteAtPath(const FPathRef& path) const {
  return writeTree_->shadowingWriteAtPath(path_->child(*path));
}

FNamedNodeRef FWriteTreeRef::calculateNextNodeAfterPost(const FNamedNodeRef& post, const FNodeRef& completeServerData,
                                                        bool reverse, const FIndexRef& index) const {
  return writeTree_->calculateNextNodeAfterPost(post, path_, completeServerData, reverse, index);
}

FNodeRef FWriteTreeRef::calculateCompleteChild(const std::string& childKey, const FCacheNode& existingServerCache) const {
  return writeTree_->calculateCompleteChildAtPath(path_, childKey, existingServerCache);
}

FWriteTreeRefPtr FWriteTreeRef::childWriteTreeRef(const std::string& childKey) const {
  if (lastChild_) {
    const FPath& childPath = *lastChild_->path_;
    if (childPath.length() == path_->length() + 1 && childPath.pieces()->back() == childKey) return lastChild_;
  }
  lastChild_ = std::make_shared<const FWriteTreeRef>(path_->childFromString(childKey), writeTree_);
  return lastChild_;
}

bool FWriteTreeRef::hasWritesDependingOnOrder() const { return writeTree_->hasWritesDependingOnOrderAt(path_); }
