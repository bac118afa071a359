#include "sdk/database/snapshot/FSnapshotUtilities.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FStringUtilities.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"

namespace {

constexpr std::string_view kDefaultFrom = "nodeFrom:priority:";

std::string str(std::string_view s) { return std::string(s); }

FNodeRef buildNode(const Value& value, const Value& priority, std::string_view from, int32_t depth,
                   std::vector<std::string>& path);

// The kept children of a mapping or an array, converted one level deeper.
using ChildList = std::vector<std::pair<std::string, FNodeRef>>;

void addChild(ChildList& children, std::string key, const Value& value, std::string_view from, int32_t depth,
              std::vector<std::string>& path) {
  path.push_back(key);
  FNodeRef child = buildNode(value, Value(), from, depth + 1, path);
  path.pop_back();
  if (!child->isEmpty()) children.emplace_back(std::move(key), std::move(child));
}

FNodeRef buildNode(const Value& value, const Value& priority, std::string_view from, int32_t depth,
                   std::vector<std::string>& path) {
  if (depth > FSnapshotUtilities::kMaxDepth) {
    NSException::raise(kInvalidZirezizeData, ns::format("(%s) Max object depth exceeded: %s...", str(from).c_str(),
                                                        FValidation::joinedPath(path, 100).c_str()));
  }
  if (value.is_null()) return FEmptyNode::emptyNode();

  // A priority is converted under the name of the operation that was called, like the value.
  auto priorityNodeFrom = [&](const Value& p) {
    return p.is_null() ? FEmptyNode::emptyNode() : buildNode(p, Value(), from, depth, path);
  };
  FValidation::validateFromIsValidPriorityValue(from, priority, path);
  FNodeRef priorityNode = priorityNodeFrom(priority);

  const Value* data = &value;
  bool forcedLeaf = false;
  if (value.is_object()) {
    if (auto it = value.find(".priority"); it != value.end()) {
      FValidation::validateFromIsValidPriorityValue(from, *it, path);
      priorityNode = priorityNodeFrom(*it);
    }
    if (auto it = value.find(".value"); it != value.end()) {
      data = &*it;
      if (!FValidation::validateFromIsValidLeafValue(from, *data, path)) {
        NSException::raise(kInvalidLeafValueType,
                           ns::format("(%s) Invalid data type used with .value. Can only use NSString and "
                                      "NSNumber or be null. Found %s instead.",
                                      str(from).c_str(), FSnapshotUtilities::className(*data)));
      }
      // A ".value" of null holds nothing: the location is empty, like a written null.
      if (data->is_null()) return FEmptyNode::emptyNode();
      forcedLeaf = true;
    }
  }
  if (forcedLeaf || FValidation::validateFromIsValidLeafValue(from, *data, path)) {
    return std::make_shared<const FLeafNode>(*data, priorityNode);
  }

  ChildList children;
  if (data->is_object()) {
    for (auto it = data->begin(); it != data->end(); ++it) {
      FValidation::validateFromValidDictionaryKey(from, Value(it.key()), path);
      if (!it.key().empty() && it.key()[0] == '.') continue;
      addChild(children, it.key(), it.value(), from, depth, path);
    }
  } else if (data->is_array()) {
    children.reserve(data->size());
    for (size_t i = 0; i < data->size(); ++i) {
      addChild(children, std::to_string(i), (*data)[i], from, depth, path);
    }
  } else {
    NSException::raise(kInvalidZirezizeData,
                       ns::format("(%s) Cannot store object of type %s at %s. Can only store objects of type "
                                  "NSNumber, NSString, NSDictionary, and NSArray.",
                                  str(from).c_str(), FSnapshotUtilities::className(*data),
                                  FValidation::joinedPath(path, 50).c_str()));
  }
  if (children.empty()) return FEmptyNode::emptyNode();
  auto dictionary = FChildrenDictionary::fromDictionary(children, FUtilities::keyComparator());
  return std::make_shared<const FChildrenNode>(priorityNode, dictionary);
}

}  // namespace

const char* FSnapshotUtilities::className(const Value& value) {
  if (value::isDate(value)) return "NSDate";
  if (value.is_binary()) return "NSData";
  if (value.is_object()) return "NSDictionary";
  if (value.is_array()) return "NSArray";
  if (value.is_string()) return "NSString";
  if (value.is_boolean() || value.is_number()) return "NSNumber";
  return "NSNull";
}

FNodeRef FSnapshotUtilities::nodeFrom(const Value& value) { return nodeFrom(value, Value(), kDefaultFrom); }

FNodeRef FSnapshotUtilities::nodeFrom(const Value& value, const Value& priority) {
  return nodeFrom(value, priority, kDefaultFrom);
}

FNodeRef FSnapshotUtilities::nodeFromWithValidationFrom(const Value& value, std::string_view from) {
  return nodeFrom(value, Value(), from);
}

FNodeRef FSnapshotUtilities::nodeFrom(const Value& value, const Value& priority, std::string_view from) {
  std::vector<std::string> path;
  return nodeFrom(value, priority, from, 0, path);
}

FNodeRef FSnapshotUtilities::nodeFrom(const Value& value, const Value& priority, std::string_view from,
                                      int32_t depth, std::vector<std::string>& path) {
  const size_t keys = path.size();
  try {
    return buildNode(value, priority, from, depth, path);
  } catch (...) {
    path.resize(keys);
    throw;
  }
}

FCompoundWriteRef FSnapshotUtilities::compoundWriteFromDictionary(const Value& values, std::string_view from) {
  if (!values.is_object()) {
    NSException::raise(kInvalidZirezizeData,
                       ns::format("(%s) Cannot store object of type %s at . Can only store objects of type "
                                  "NSNumber, NSString, NSDictionary, and NSArray.",
                                  str(from).c_str(), className(values)));
  }
  FCompoundWriteRef write = FCompoundWrite::emptyWrite();
  std::vector<FPathRef> paths;
  paths.reserve(values.size());
  for (auto it = values.begin(); it != values.end(); ++it) {
    FValidation::validateFromValidUpdateDictionaryKey(from, Value(it.key()), it.value());
    FPathRef path = FPath::pathWithString(it.key());
    FNodeRef node = nodeFromWithValidationFrom(it.value(), from);
    paths.push_back(path);
    write = write->addWrite(node, path);
  }
  std::sort(paths.begin(), paths.end(), [](const FPathRef& a, const FPathRef& b) { return a->compare(*b) < 0; });
  for (size_t i = 1; i < paths.size(); ++i) {
    if (paths[i - 1]->contains(*paths[i])) {
      NSException::raise(kInvalidZirezizeData,
                         ns::format("(%s) Invalid path in object. Path (%s) is an ancestor of (%s).",
                                    str(from).c_str(), paths[i - 1]->toString().c_str(),
                                    paths[i]->toString().c_str()));
    }
  }
  return write;
}

void FSnapshotUtilities::validatePriorityNode(const FNodeRef& priorityNode) {
  if (!priorityNode) NSException::raise(NSInternalInconsistencyException, "priorityNode != nil");
}

void FSnapshotUtilities::appendHashV2RepresentationForString(std::string_view s, std::string& text) {
  text += '"';
  for (char c : s) {
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '"') {
      text += "\\\"";
    } else {
      text += c;
    }
  }
  text += '"';
}

void FSnapshotUtilities::appendHashRepresentationForLeafNode(const FLeafNode& leaf, std::string& text,
                                                             int hashVersion) {
  const FNodeRef priority = leaf.getPriority();
  if (!priority->isEmpty()) {
    if (!priority->isLeafNode()) {
      NSException::raise(NSInvalidArgumentException, "Unknown value for hashing: " + priority->description());
    }
    text += "priority:";
    appendHashRepresentationForLeafNode(static_cast<const FLeafNode&>(*priority), text, hashVersion);
    text += ":";
  }
  const Value& v = leaf.value();
  if (!(v.is_boolean() || v.is_number() || v.is_string())) {
    NSException::raise(NSInvalidArgumentException, "Unknown value for hashing: " + leaf.description());
  }
  text += fnode::typeName(v);
  text += ":";
  if (v.is_boolean()) {
    text += v.get<bool>() ? "true" : "false";
  } else if (v.is_number()) {
    text += FUtilities::ieee754StringForNumber(v);
  } else if (hashVersion == 0) {
    text += v.get_ref<const std::string&>();
  } else {
    appendHashV2RepresentationForString(v.get_ref<const std::string&>(), text);
  }
}

std::string FSnapshotUtilities::base64EncodedSha1(std::string_view text) {
  return FStringUtilities::base64EncodedSha1(text);
}

uint64_t FSnapshotUtilities::estimateLeafNodeSize(const FLeafNode& leaf) {
  const Value& v = leaf.value();
  uint64_t size;
  if (v.is_boolean()) {
    size = 4;
  } else if (v.is_number()) {
    size = 8;
  } else if (v.is_string()) {
    size = ns::utf16Length(v.get_ref<const std::string&>()) + 2;
  } else {
    NSException::raise(NSInvalidArgumentException, "Unknown leaf type: " + leaf.description());
  }
  const FNodeRef priority = leaf.getPriority();
  if (!priority->isEmpty()) {
    if (!priority->isLeafNode()) {
      NSException::raise(NSInvalidArgumentException, "Unknown leaf type: " + priority->description());
    }
    size += 24 + estimateLeafNodeSize(static_cast<const FLeafNode&>(*priority));
  }
  return size;
}

uint64_t FSnapshotUtilities::estimateSerializedNodeSize(const FNodeRef& node) {
  if (node->isEmpty()) return 4;
  // A sum over every node of the tree, so the nodes can be visited in any order: from a loop, not
  // by a call per level.
  uint64_t size = 0;
  std::vector<const FNode*> pending{node.get()};
  while (!pending.empty()) {
    const FNode* next = pending.back();
    pending.pop_back();
    if (next->isLeafNode()) {
      size += estimateLeafNodeSize(static_cast<const FLeafNode&>(*next));
      continue;
    }
    size += 1;
    const auto* children = dynamic_cast<const FChildrenNode*>(next);
    if (!children) continue;
    children->enumerateChildrenAndPriorityUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      size += ns::utf16Length(key) + 4;
      pending.push_back(child.get());  // alive in its parent's children or as its priority
    });
  }
  return size;
}
