#include "sdk/database/persistence/FPruneForest.h"

const FPruneForest::Tree::Predicate& FPruneForest::prunePredicate() {
  static const Tree::Predicate predicate = [](const bool& prune) { return prune; };
  return predicate;
}

const FPruneForest::Tree::Predicate& FPruneForest::keepPredicate() {
  static const Tree::Predicate predicate = [](const bool& prune) { return !prune; };
  return predicate;
}

const FPruneForestRef& FPruneForest::empty() {
  static const FPruneForestRef& instance = *new FPruneForestRef(std::make_shared<const FPruneForest>(Tree::empty()));
  return instance;
}

FPruneForest::FPruneForest(Tree::Ref tree) : tree_(std::move(tree)) {}

bool FPruneForest::prunesAnything() const { return tree_->containsValueMatching(prunePredicate()); }

bool FPruneForest::shouldPruneAtPath(const FPath& path) const {
  return tree_->rootMostValueOnPath(path, prunePredicate()).has_value() && !shouldKeepPath(path);
}

bool FPruneForest::shouldKeepPath(const FPath& path) const {
  return tree_->rootMostValueOnPath(path, keepPredicate()).has_value();
}

bool FPruneForest::affectsPath(const FPath& path) const {
  return tree_->rootMostValueOnPath(path, prunePredicate()).has_value() ||
         tree_->subtreeAtPath(path)->containsValueMatching(prunePredicate());
}

FPruneForestRef FPruneForest::prunePath(const FPath& path) const {
  // Inside kept data, or inside data that is pruned already, there is nothing to add.
  if (tree_->rootMostValueOnPath(path).has_value()) return std::make_shared<const FPruneForest>(tree_);
  Tree::Ref below = tree_->subtreeAtPath(path);
  return std::make_shared<const FPruneForest>(
      tree_->setTree(std::make_shared<const Tree>(true, below->children()), path));
}

FPruneForestRef FPruneForest::keepPath(const FPath& path) const {
  if (shouldKeepPath(path)) return std::make_shared<const FPruneForest>(tree_);
  return std::make_shared<const FPruneForest>(tree_->setTree(std::make_shared<const Tree>(false), path));
}

FPruneForestRef FPruneForest::keepAll(const std::set<std::string>& children, const FPath& path) const {
  FPruneForestRef forest = std::make_shared<const FPruneForest>(tree_);
  for (const std::string& key : children) forest = forest->keepPath(*path.childFromString(key));
  return forest;
}
