#include "sdk/database/snapshot/FLeafNode.h"

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

class EmptyNamedNodeEnumerator : public NSEnumerator<FNamedNodeRef> {
 public:
  std::optional<FNamedNodeRef> nextObject() override { return std::nullopt; }
};

// Numerical value of a leaf number; booleans count as 0 and 1.
long double numeric(const Value& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_number_unsigned()) return static_cast<long double>(v.get<uint64_t>());
  if (v.is_number_integer()) return static_cast<long double>(v.get<int64_t>());
  return static_cast<long double>(v.get<double>());
}

// The place of the value's type in valueTypeOrder(), read from the value itself (sorting an index
// compares leaves many times); a type outside the order comes after it.
enum Rank { kObject = 0, kBoolean = 1, kNumber = 2, kString = 3, kOutside = 4 };
Rank rankOf(const Value& v) {
  if (v.is_object()) return kObject;
  if (v.is_boolean()) return kBoolean;
  if (v.is_number()) return kNumber;
  if (v.is_string()) return kString;
  return kOutside;
}

}  // namespace

namespace fnode {
const char* typeName(const Value& value) {
  if (value.is_object()) return "object";
  if (value.is_string()) return "string";
  if (value.is_boolean()) return "boolean";
  if (value.is_number()) return "number";
  return "null";
}
}  // namespace fnode

std::string FNode::description() const { return FUtilities::jsonText(valForExport(true)); }

FLeafNode::FLeafNode(Value value) : FLeafNode(std::move(value), FEmptyNode::emptyNode()) {}

FLeafNode::FLeafNode(Value value, FNodeRef priority) : value_(std::move(value)), priority_(std::move(priority)) {
  if (!priority_) {
    NSException::raise(NSInternalInconsistencyException, "FLeafNode needs a priority node");
  }
}

const std::vector<std::string>& FLeafNode::valueTypeOrder() {
  static const std::vector<std::string> order{"object", "boolean", "number", "string"};
  return order;
}

FNodeRef FLeafNode::updatePriority(const FNodeRef& priority) const {
  return std::make_shared<const FLeafNode>(value_, priority ? priority : FEmptyNode::emptyNode());
}

FNodeRef FLeafNode::getImmediateChild(const std::string& key) const {
  if (key == ".priority") return priority_;
  return FEmptyNode::emptyNode();
}

FNodeRef FLeafNode::getChild(const FPathRef& path) const {
  const auto front = path->getFront();
  if (!front) return self();
  if (*front == ".priority") return priority_;
  return FEmptyNode::emptyNode();
}

bool FLeafNode::hasChild(const std::string& key) const {
  return key == ".priority" && !priority_->isEmpty();
}

FNodeRef FLeafNode::updateImmediateChild(const std::string& key, const FNodeRef& newChild) const {
  if (key == ".priority") return updatePriority(newChild);
  if (newChild->isEmpty()) return self();
  // The leaf's own value gives way to the child; its priority stays.
  auto children = FChildrenNode::emptyChildren()->insertKey(key, newChild);
  return std::make_shared<const FChildrenNode>(priority_, children);
}

FNodeRef FLeafNode::updateChild(const FPathRef& path, const FNodeRef& newChild) const {
  const auto front = path->getFront();
  if (!front) return newChild;
  if (newChild->isEmpty() && *front != ".priority") return self();
  return updateImmediateChild(*front, FEmptyNode::emptyNode()->updateChild(path->popFront(), newChild));
}

Value FLeafNode::valForExport(bool exp) const {
  if (exp && !priority_->isEmpty()) {
    Value out = Value::object();
    out[".value"] = value_;
    out[".priority"] = priority_->val();
    return out;
  }
  return value_;
}

std::string FLeafNode::dataHash() const {
  std::call_once(hashOnce_, [this] {
    std::string text;
    FSnapshotUtilities::appendHashRepresentationForLeafNode(*this, text, 0);
    lazyHash_ = FSnapshotUtilities::base64EncodedSha1(text);
  });
  return lazyHash_;
}

int FLeafNode::compare(const FNode& other) const {
  if (other.kind() == Kind::Leaf) return compareToLeafNode(static_cast<const FLeafNode&>(other));
  if (other.isEmpty()) return 1;
  return -1;
}

int FLeafNode::compareToLeafNode(const FLeafNode& other) const {
  const Rank a = rankOf(value_), b = rankOf(other.value_);
  if (a != b) return a < b ? -1 : 1;
  if (a == kObject) return 0;
  if (a == kString) {
    return ns::utf16Compare(value_.get_ref<const std::string&>(), other.value_.get_ref<const std::string&>());
  }
  if (a == kBoolean || a == kNumber) {
    // Integers beyond 2^53 stay exact when both sides are integers of the same signedness.
    if (value_.is_number_integer() && other.value_.is_number_integer() &&
        value_.is_number_unsigned() == other.value_.is_number_unsigned()) {
      if (value_.is_number_unsigned()) {
        const auto x = value_.get<uint64_t>(), y = other.value_.get<uint64_t>();
        return x < y ? -1 : (x > y ? 1 : 0);
      }
      const auto x = value_.get<int64_t>(), y = other.value_.get<int64_t>();
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    const long double x = numeric(value_), y = numeric(other.value_);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  // Two values of a type outside the order (null) tie.
  return 0;
}

bool FLeafNode::isEqual(const FNode& other) const {
  if (this == &other) return true;
  if (other.kind() != Kind::Leaf) return false;
  const auto& leaf = static_cast<const FLeafNode&>(other);
  if (std::string_view(fnode::typeName(value_)) != fnode::typeName(leaf.value_)) return false;
  // Numbers are equal by value whatever their stored kind (1 and 1.0), as the platform's numbers are.
  if (value_.is_number() && leaf.value_.is_number()) {
    if (compareToLeafNode(leaf) != 0) return false;
  } else if (value_ != leaf.value_) {
    return false;
  }
  return priority_->isEqual(*leaf.priority_);
}

FNamedNodeEnumerator FLeafNode::childEnumerator() const { return std::make_shared<EmptyNamedNodeEnumerator>(); }

uint64_t FLeafNode::hash() const {
  // Numbers hash by value so that leaves equal across number kinds (1 and 1.0) hash alike.
  const uint64_t valueHash = value_.is_number() ? std::hash<double>()(value_.get<double>())
                                                : static_cast<uint64_t>(std::hash<Value>()(value_));
  return 17 * valueHash + priority_->hash();
}
