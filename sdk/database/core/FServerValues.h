#pragma once
// Local resolution of server-value placeholders: {".sv": "timestamp"} becomes the estimated server
// time in milliseconds, {".sv": {"increment": n}} the existing number plus n. The placeholders are
// sent to the server unchanged; local listeners see the resolved copy at once.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/snapshot/FNode.h"

class FClock;

// Supplies the existing values that increments add to.
class ValueProvider {
 public:
  virtual ~ValueProvider() = default;
  virtual std::shared_ptr<const ValueProvider> getChild(const std::string& key) const = 0;
  // The node at the provider's location, or null when the local data does not hold it completely.
  virtual FNodeRef value() const = 0;
};
using ValueProviderRef = std::shared_ptr<const ValueProvider>;

class ExistingValueProvider : public ValueProvider {
 public:
  explicit ExistingValueProvider(FNodeRef snapshot) : snapshot_(std::move(snapshot)) {}
  ValueProviderRef getChild(const std::string& key) const override;
  FNodeRef value() const override { return snapshot_; }

 private:
  FNodeRef snapshot_;
};

// Reads the complete event cache at a path each time its value is asked, so the data is read only
// where a placeholder needs it. The reader is the sync tree's complete-event-cache calculation.
class DeferredValueProvider : public ValueProvider {
 public:
  using CompleteEventCacheReader = std::function<FNodeRef(const FPathRef& path)>;
  DeferredValueProvider(CompleteEventCacheReader reader, FPathRef path)
      : reader_(std::move(reader)), path_(std::move(path)) {}
  ValueProviderRef getChild(const std::string& key) const override;
  FNodeRef value() const override { return reader_ ? reader_(path_) : nullptr; }

 private:
  CompleteEventCacheReader reader_;
  FPathRef path_;
};

class FServerValues {
 public:
  // {"timestamp": the clock's time in milliseconds, truncated toward zero to an integer}.
  // Whether a value or a priority anywhere in the node is a server value placeholder: only then
  // does resolving the node read the server values.
  static bool holdsServerValue(const FNode& node);
  static Value generateServerValues(const FClock& clock);
  static Value generateServerValues(double currentTimeSeconds);

  // The resolved value, or nullopt for a placeholder that resolves to nothing.
  static std::optional<Value> resolveDeferredValue(const Value& value, const ValueProvider& existing,
                                                   const Value& serverValues);
  static std::optional<Value> resolveScalarServerOp(const std::string& op, const Value& serverValues);
  static std::optional<Value> resolveComplexServerOp(const Value& op, const ValueProvider& existing,
                                                     const Value& serverValues);
  // Return the input object itself when nothing in it needed resolving.
  static FNodeRef resolveDeferredValueSnapshot(const FNodeRef& node, const ValueProvider& provider,
                                               const Value& serverValues);
  static FNodeRef resolveDeferredValueSnapshotWithExisting(const FNodeRef& node, const FNodeRef& existing,
                                                           const Value& serverValues);
  static FNodeRef resolveDeferredValueSnapshotWithReader(const FNodeRef& node,
                                                         const DeferredValueProvider::CompleteEventCacheReader& reader,
                                                         const FPathRef& path, const Value& serverValues);
  static FCompoundWriteRef resolveDeferredValueCompoundWrite(
      const FCompoundWriteRef& write, const DeferredValueProvider::CompleteEventCacheReader& reader,
      const FPathRef& path, const Value& serverValues);
};
