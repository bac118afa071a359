#pragma once
// When the persisted server cache is pruned and how much of it goes at once. The persistence
// manager asks after every change of the server cache; the size is kept up to date by the storage
// engine, so asking is cheap.
#include <cstdint>

class FCachePolicy {
 public:
  virtual ~FCachePolicy() = default;
  // Whether a cache of `cacheSize` estimated bytes, with that many prunable tracked queries, must
  // be pruned now.
  virtual bool shouldPruneCacheWithSize(uint64_t cacheSize, uint64_t numberOfTrackedQueries) const = 0;
  // The share (0 ... 1) of the prunable queries that one prune pass removes.
  virtual double percentOfQueriesToPruneAtOnce() const = 0;
  // The most prunable queries that a prune pass leaves.
  virtual uint64_t maxNumberOfQueriesToKeep() const = 0;
};

// Prunes the least recently used queries' data once the cache is larger than its maximum size,
// or once more than 1,000 prunable queries are tracked; each pass removes a fifth of them (at
// least one).
class FLRUCachePolicy : public FCachePolicy {
 public:
  static constexpr double kPercentOfQueriesToPruneAtOnce = 0.2;
  static constexpr uint64_t kMaxNumberOfPrunableQueriesToKeep = 1000;

  explicit FLRUCachePolicy(uint64_t maxSize) : maxSize_(maxSize) {}

  uint64_t maxSize() const { return maxSize_; }
  bool shouldPruneCacheWithSize(uint64_t cacheSize, uint64_t numberOfTrackedQueries) const override {
    return cacheSize > maxSize_ || numberOfTrackedQueries > kMaxNumberOfPrunableQueriesToKeep;
  }
  double percentOfQueriesToPruneAtOnce() const override { return kPercentOfQueriesToPruneAtOnce; }
  uint64_t maxNumberOfQueriesToKeep() const override { return kMaxNumberOfPrunableQueriesToKeep; }

 private:
  uint64_t maxSize_;
};
