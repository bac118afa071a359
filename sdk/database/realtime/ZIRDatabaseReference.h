#pragma once
// A location of one database, as handed to user callbacks with each snapshot: the repository it
// belongs to and its path. Immutable. This holds what the engine's events need of a reference (its
// repository, path, key and parent); the write and query operations are the public layer's.
#include <memory>
#include <optional>
#include <string>

#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"

class FRepo;
class ZIRDatabaseReference;
using ZIRDatabaseReferenceRef = std::shared_ptr<const ZIRDatabaseReference>;

class ZIRDatabaseReference : public std::enable_shared_from_this<ZIRDatabaseReference> {
 public:
  // initWithRepo:path:
  ZIRDatabaseReference(std::shared_ptr<FRepo> repo, FPathRef path)
      : repo_(std::move(repo)), path_(path ? std::move(path) : FPath::empty()) {}

  const std::shared_ptr<FRepo>& repo() const { return repo_; }
  const FPathRef& path() const { return path_; }
  // The last key of the path; nullopt for the root.
  std::optional<std::string> key() const { return path_->getBack(); }
  // The reference of the parent path; null for the root.
  ZIRDatabaseReferenceRef parent() const {
    FPathRef parentPath = path_->parent();
    if (!parentPath) return nullptr;
    return std::make_shared<const ZIRDatabaseReference>(repo_, parentPath);
  }
  // The default query at the reference's path.
  FQuerySpecRef querySpec() const { return FQuerySpec::defaultQueryAtPath(path_); }

 private:
  std::shared_ptr<FRepo> repo_;
  FPathRef path_;
};
