#pragma once
// A hash of a large cached node cut, in key order, into ranges of roughly equal text size: one
// hash per range plus the paths at which the ranges end, so the server can resend only the ranges
// that differ.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FNode.h"

class FCompoundHash;
class FCompoundHashBuilder;
using FCompoundHashRef = std::shared_ptr<const FCompoundHash>;
using FCompoundHashSplitStrategy = std::function<bool(const FCompoundHashBuilder&)>;

class FCompoundHashBuilder {
 public:
  explicit FCompoundHashBuilder(FCompoundHashSplitStrategy strategy);

  bool isBuildingRange() const { return building_; }
  // Length of the range text in UTF-16 units.
  uint64_t currentHashLength() const { return building_ ? utf16Length_ : 0; }
  FPathRef currentPath() const { return currentPathWithDepth(currentPathDepth_); }
  FPathRef currentPathWithDepth(int64_t depth) const;
  // The last key of the current path, or null at the root.
  const std::string* currentLastKey() const;

  void processLeaf(const FNodeRef& leaf);
  void startChild(const std::string& key);
  void endChild();
  void finishHashing();

  const std::vector<FPathRef>& currentPaths() const { return currentPaths_; }
  const std::vector<std::string>& currentHashes() const { return currentHashes_; }

 private:
  void ensureRange();
  void endRange();
  void append(std::string_view text);
  void appendKey(const std::string& key);

  std::string text_;
  uint64_t utf16Length_ = 0;
  bool building_ = false;
  std::vector<std::string> currentPath_;
  int64_t lastLeafDepth_ = -1;
  int64_t currentPathDepth_ = 0;
  bool needsComma_ = true;
  FCompoundHashSplitStrategy splitStrategy_;
  std::vector<FPathRef> currentPaths_;
  std::vector<std::string> currentHashes_;
};

class FCompoundHash {
 public:
  // Raises NSInvalidArgumentException unless there is one post fewer than hashes.
  FCompoundHash(std::vector<FPathRef> posts, std::vector<std::string> hashes);

  static FCompoundHashRef fromNode(const FNodeRef& node);
  static FCompoundHashRef fromNode(const FNodeRef& node, const FCompoundHashSplitStrategy& strategy);
  static FCompoundHashSplitStrategy simpleSizeSplitStrategyForNode(const FNodeRef& node);

  const std::vector<FPathRef>& posts() const { return posts_; }
  const std::vector<std::string>& hashes() const { return hashes_; }

 private:
  std::vector<FPathRef> posts_;
  std::vector<std::string> hashes_;
};
