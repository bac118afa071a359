#include "sdk/database/core/FServerValues.h"

#include <cmath>
#include <limits>

#include "sdk/database/core/FClock.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

bool isServerValue(const Value& value) { return value.is_object() && value.contains(".sv"); }

// Decided by the kind the number was stored with, not by its value.
bool integerRepresentable(const Value& v) {
  if (v.is_boolean()) return true;
  if (v.is_number_unsigned()) return v.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return v.is_number_integer();
}

int64_t asInteger(const Value& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_number_unsigned()) return static_cast<int64_t>(v.get<uint64_t>());
  return v.get<int64_t>();
}

double asDouble(const Value& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  return v.get<double>();
}

bool isNumeric(const Value& v) { return v.is_number() || v.is_boolean(); }

}  // namespace

ValueProviderRef ExistingValueProvider::getChild(const std::string& key) const {
  return std::make_shared<const ExistingValueProvider>(snapshot_ ? snapshot_->getImmediateChild(key) : nullptr);
}

ValueProviderRef DeferredValueProvider::getChild(const std::string& key) const {
  return std::make_shared<const DeferredValueProvider>(reader_, path_->childFromString(key));
}

bool FServerValues::holdsServerValue(const FNode& node) {
  const FNodeRef& priority = node.getPriority();
  if (priority->isLeafNode() && isServerValue(static_cast<const FLeafNode&>(*priority).value())) return true;
  if (node.isLeafNode()) return isServerValue(static_cast<const FLeafNode&>(node).value());
  bool holds = false;
  node.enumerateChildrenUsingBlock([&](const std::string&, const FNodeRef& child, bool* stop) {
    if (holdsServerValue(*child)) holds = *stop = true;
  });
  return holds;
}

Value FServerValues::generateServerValues(const FClock& clock) { return generateServerValues(clock.currentTime()); }

Value FServerValues::generateServerValues(double currentTimeSeconds) {
  Value values = Value::object();
  const double millis = std::trunc(currentTimeSeconds * 1000.0);
  // A clock outside the range of 64-bit milliseconds (or not a number) gives 0 rather than an
  // undefined conversion.
  const bool representable = std::isfinite(millis) && std::fabs(millis) < 9.2e18;
  values["timestamp"] = representable ? static_cast<int64_t>(millis) : int64_t{0};
  return values;
}

std::optional<Value> FServerValues::resolveDeferredValue(const Value& value, const ValueProvider& existing,
                                                         const Value& serverValues) {
  if (!isServerValue(value)) return value;
  const Value& op = value.at(".sv");
  if (op.is_string()) return resolveScalarServerOp(op.get<std::string>(), serverValues);
  if (op.is_object()) return resolveComplexServerOp(op, existing, serverValues);
  return value;
}

std::optional<Value> FServerValues::resolveScalarServerOp(const std::string& op, const Value& serverValues) {
  if (!serverValues.is_object()) return std::nullopt;
  auto it = serverValues.find(op);
  if (it == serverValues.end()) return std::nullopt;
  return *it;
}

std::optional<Value> FServerValues::resolveComplexServerOp(const Value& op, const ValueProvider& existing,
                                                           const Value&) {
  auto it = op.find("increment");
  if (it == op.end()) return std::nullopt;
  const Value& delta = *it;
  // A delta that is not a number cannot be added to anything; it resolves to nothing.
  if (!isNumeric(delta)) return std::nullopt;
  FNodeRef node = existing.value();
  if (!node || !node->isLeafNode()) return delta;
  const Value& current = static_cast<const FLeafNode&>(*node).value();
  if (!isNumeric(current)) return delta;
  if (integerRepresentable(delta) && integerRepresentable(current)) {
    const int64_t x = asInteger(delta), y = asInteger(current);
    int64_t sum;
    if (!__builtin_add_overflow(x, y, &sum)) return Value(sum);
  }
  return Value(asDouble(delta) + asDouble(current));
}

FNodeRef FServerValues::resolveDeferredValueSnapshot(const FNodeRef& node, const ValueProvider& provider,
                                                     const Value& serverValues) {
  const FNodeRef oldPriority = node->getPriority();
  FNodeRef priority = oldPriority;
  // Only a placeholder priority can change; any other priority stays the very same node.
  if (oldPriority->isLeafNode() && isServerValue(static_cast<const FLeafNode&>(*oldPriority).value())) {
    const auto resolved =
        resolveDeferredValue(oldPriority->val(), *provider.getChild(".priority"), serverValues);
    priority = resolved ? FSnapshotUtilities::nodeFrom(*resolved) : FEmptyNode::emptyNode();
  }

  if (node->isLeafNode()) {
    const Value& oldValue = static_cast<const FLeafNode&>(*node).value();
    const auto resolved = resolveDeferredValue(oldValue, provider, serverValues);
    // A placeholder that resolves to nothing leaves nothing at its location.
    if (!resolved) return FEmptyNode::emptyNode();
    if (*resolved == oldValue && resolved->type() == oldValue.type() && priority->isEqual(*oldPriority)) {
      return node;
    }
    return std::make_shared<const FLeafNode>(*resolved, priority);
  }

  FNodeRef result = node;
  if (!priority->isEqual(*oldPriority)) result = result->updatePriority(priority);
  node->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    FNodeRef resolvedChild = resolveDeferredValueSnapshot(child, *provider.getChild(key), serverValues);
    if (resolvedChild != child) result = result->updateImmediateChild(key, resolvedChild);
  });
  return result;
}

FNodeRef FServerValues::resolveDeferredValueSnapshotWithExisting(const FNodeRef& node, const FNodeRef& existing,
                                                                 const Value& serverValues) {
  return resolveDeferredValueSnapshot(node, ExistingValueProvider(existing), serverValues);
}

FNodeRef FServerValues::resolveDeferredValueSnapshotWithReader(
    const FNodeRef& node, const DeferredValueProvider::CompleteEventCacheReader& reader, const FPathRef& path,
    const Value& serverValues) {
  return resolveDeferredValueSnapshot(node, DeferredValueProvider(reader, path), serverValues);
}

FCompoundWriteRef FServerValues::resolveDeferredValueCompoundWrite(
    const FCompoundWriteRef& write, const DeferredValueProvider::CompleteEventCacheReader& reader,
    const FPathRef& path, const Value& serverValues) {
  FCompoundWriteRef result = write;
  write->enumerateWrites([&](const FPathRef& relative, const FNodeRef& node, bool*) {
    FNodeRef resolved = resolveDeferredValueSnapshot(node, DeferredValueProvider(reader, path->child(*relative)),
                                                     serverValues);
    if (resolved != node) result = result->addWrite(resolved, relative);
  });
  return result;
}
