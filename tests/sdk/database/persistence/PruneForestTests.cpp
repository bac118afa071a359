// The prune forest: which locations a prune removes once prune and keep marks are combined.
#include <gtest/gtest.h>

#include "sdk/database/persistence/FPruneForest.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"

using namespace persistencetest;

TEST(PruneForest, AnEmptyForestPrunesNothing) {
  const FPruneForestRef& forest = FPruneForest::empty();
  EXPECT_FALSE(forest->prunesAnything());
  EXPECT_FALSE(forest->shouldPruneAtPath(*path("/a")));
  EXPECT_FALSE(forest->affectsPath(*path("/")));
}

TEST(PruneForest, KeptLocationsInsideAPrunedOneStayAndEverythingElseBelowGoes) {
  FPruneForestRef forest = FPruneForest::empty()->prunePath(*path("/a"))->keepPath(*path("/a/b"))->keepAll(
      {"x", "y"}, *path("/a/c"));
  EXPECT_TRUE(forest->prunesAnything());
  EXPECT_TRUE(forest->shouldPruneAtPath(*path("/a")));
  EXPECT_TRUE(forest->shouldPruneAtPath(*path("/a/d/e")));
  EXPECT_TRUE(forest->shouldPruneAtPath(*path("/a/c/z")));
  EXPECT_FALSE(forest->shouldPruneAtPath(*path("/a/b")));
  EXPECT_FALSE(forest->shouldPruneAtPath(*path("/a/b/deep")));
  EXPECT_FALSE(forest->shouldPruneAtPath(*path("/a/c/x/1")));
  EXPECT_FALSE(forest->shouldPruneAtPath(*path("/other")));
  EXPECT_TRUE(forest->shouldKeepPath(*path("/a/c/y")));
  EXPECT_TRUE(forest->affectsPath(*path("/")));
  EXPECT_TRUE(forest->affectsPath(*path("/a/d")));
  EXPECT_FALSE(forest->affectsPath(*path("/other")));
}

TEST(PruneForest, APruneInsideKeptDataDoesNothingAndAPruneAboveKeepsTheKeepsBelow) {
  FPruneForestRef kept = FPruneForest::empty()->keepPath(*path("/a"))->prunePath(*path("/a/b"));
  EXPECT_FALSE(kept->shouldPruneAtPath(*path("/a/b")));
  EXPECT_FALSE(kept->prunesAnything());

  // Keep first, prune above it afterwards: the keep still holds.
  FPruneForestRef forest = FPruneForest::empty()->keepPath(*path("/a/b"))->prunePath(*path("/a"));
  EXPECT_TRUE(forest->shouldPruneAtPath(*path("/a/c")));
  EXPECT_FALSE(forest->shouldPruneAtPath(*path("/a/b/d")));

  // A keep above a prune replaces it.
  FPruneForestRef replaced = FPruneForest::empty()->prunePath(*path("/a/b"))->keepPath(*path("/a"));
  EXPECT_FALSE(replaced->prunesAnything());
}
