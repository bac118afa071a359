#pragma once
// Which parts of the persisted server cache a prune removes: a tree of booleans over paths in
// which true marks a location whose data is pruned ("prune unkept descendants") and false a
// location inside a pruned one whose data is kept (the data of a query that stays tracked). A
// keep mark never has a prune mark below it: pruning inside kept data does nothing. So a location
// is pruned exactly when its path meets a prune mark and no keep mark.
//
// Immutable; every change returns a new forest. Built on the work queue by the tracked-query
// manager and handed to the storage engine.
#include <memory>
#include <set>
#include <string>

#include "sdk/database/core/FImmutableTree.h"
#include "sdk/database/core/FPath.h"

class FPruneForest;
using FPruneForestRef = std::shared_ptr<const FPruneForest>;

class FPruneForest {
 public:
  using Tree = FImmutableTree<bool>;

  static const FPruneForestRef& empty();
  explicit FPruneForest(Tree::Ref tree);

  // Whether any location is pruned at all.
  bool prunesAnything() const;
  // Whether the data at the path is removed by a prune: a prune mark on the way from the root to
  // the path and no keep mark there.
  bool shouldPruneAtPath(const FPath& path) const;
  // Whether a keep mark lies on the way from the root to the path.
  bool shouldKeepPath(const FPath& path) const;
  // Whether a prune mark lies on the path or below it (a prune may remove data at or below it).
  bool affectsPath(const FPath& path) const;

  // Marks the data at the path pruned, keeping the keep marks below it; nothing changes inside
  // data that is kept or pruned already.
  FPruneForestRef prunePath(const FPath& path) const;
  // Marks the data at the path kept, replacing every mark below it.
  FPruneForestRef keepPath(const FPath& path) const;
  FPruneForestRef keepAll(const std::set<std::string>& children, const FPath& path) const;

  const Tree::Ref& tree() const { return tree_; }

  // The two shared predicates over the stored marks.
  static const Tree::Predicate& prunePredicate();
  static const Tree::Predicate& keepPredicate();

 private:
  Tree::Ref tree_;
};
