// Database paths, keys and values as users and the server hand them in: validation, conversion of
// values into nodes, a write along the path, and every walk of the written tree (hash, export,
// size estimate, compound hash, comparison, teardown).
//
// Input: the first line is a path text, taken byte for byte; the rest is a JSON value in which
// "%xx" within strings and keys stands for the byte xx, so that texts that are not UTF-8 (which
// JSON cannot carry) reach the checks as values handed in by code would.
#include <string>
#include <vector>

#include "platform/foundation/NSException.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FCompoundHash.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/DatabaseFuzzSupport.h"
#include "tests/fuzz/FuzzSupport.h"

using fuzzsupport::broken;
using fuzzsupport::holdsPlaceholder;

namespace {

// Runs a check that may refuse its input with a named exception; YES when it accepted it.
template <class F>
bool accepted(F&& check) {
  try {
    check();
    return true;
  } catch (const NSException&) {
    return false;
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string withBytes(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Rewrites every string and key in place, without recursion: the value may be nested as deep as
// the parser lets through.
void decodeBytes(Value& root) {
  std::vector<Value*> pending{&root};
  while (!pending.empty()) {
    Value* v = pending.back();
    pending.pop_back();
    if (v->is_string()) {
      *v = withBytes(v->get_ref<const std::string&>());
    } else if (v->is_array()) {
      for (auto& element : *v) pending.push_back(&element);
    } else if (v->is_object()) {
      Value rebuilt = Value::object();
      for (auto it = v->begin(); it != v->end(); ++it) rebuilt[withBytes(it.key())] = std::move(it.value());
      *v = std::move(rebuilt);
      for (auto it = v->begin(); it != v->end(); ++it) pending.push_back(&it.value());
    }
  }
}

// Every walk of a node; the ones that need resolved leaves only when the node has no placeholder.
void walk(const FNodeRef& node, bool resolved) {
  (void)node->val();
  (void)node->description();
  (void)node->hash();
  if (node->compare(*node) != 0 || !node->isEqual(*node)) broken("a node equals itself");
  std::string previous;
  bool first = true;
  node->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (child->isEmpty()) broken("no empty child is stored");
    if (!first && FUtilities::compareKey(previous, key) >= 0) broken("children in strictly increasing key order");
    previous = key;
    first = false;
  });
  if (!resolved) return;
  const std::string hash = node->dataHash();
  if (!hash.empty() && hash.size() != 28) broken("a hash is empty or 28 characters");
  if (node->isLeafNode() && hash.empty()) broken("a leaf always has a hash");
  (void)FSnapshotUtilities::estimateSerializedNodeSize(node);
  auto compound = FCompoundHash::fromNode(node);
  if (compound->posts().size() + 1 != compound->hashes().size()) broken("n-1 posts for n hashes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzzsupport::asText(data, size);
  const size_t newline = input.find('\n');
  const std::string_view pathText = input.substr(0, newline);
  const std::string_view json = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

  // Paths and keys.
  const bool pathValid = accepted([&] { FValidation::validateFromValidPathString("child:", pathText); });
  (void)accepted([&] { FValidation::validateFromValidRootPathString("referenceWithPath:", pathText); });
  const bool keyValid = accepted([&] { FValidation::validateFromValidKey("child:", pathText); });
  if (keyValid != FValidation::isValidKey(pathText)) broken("the key check and its test agree");
  const FPathRef path = FPath::pathWithString(pathText);
  if (!FPath::pathWithString(path->toString())->isEqual(*path)) broken("a path reads back from its text");
  const bool writable = pathValid && accepted([&] { FValidation::validateFromWritablePath("setValue:", *path); });
  if (pathValid) {
    path->enumerateComponentsUsingBlock([](const std::string& key, bool*) {
      if (!FValidation::isValidKey(key)) broken("every key of a valid path is a valid key");
    });
  }

  // Values.
  auto parsed = value::parseJSON(json, true);
  if (!parsed) return 0;
  decodeBytes(*parsed);
  const bool resolved = !holdsPlaceholder(*parsed);
  if (parsed->is_object()) {
    FCompoundWriteRef write;
    if (accepted([&] { write = FSnapshotUtilities::compoundWriteFromDictionary(*parsed, "updateChildValues:"); })) {
      write->enumerateWrites([&](const FPathRef& at, const FNodeRef& node, bool*) {
        if (at->length() > FValidation::kMaxPathDepth) broken("update keys are no deeper than paths");
        walk(node, resolved);
      });
      walk(write->applyToNode(FEmptyNode::emptyNode()), resolved);
      (void)write->description();
      (void)write->hash();
      const auto again = FCompoundWrite::compoundWriteWithValueDictionary(write->valForExport(true));
      if (!again->isEqual(*write) || again->hash() != write->hash()) broken("a write reads back from its export");
    }
  }
  FNodeRef node;
  if (!accepted([&] { node = FSnapshotUtilities::nodeFromWithValidationFrom(*parsed, "setValue:"); })) return 0;
  walk(node, resolved);
  // A node comes back from its exported value unchanged.
  const FNodeRef again = FSnapshotUtilities::nodeFrom(node->valForExport(true));
  if (!again->isEqual(*node)) broken("a node reads back from its export");
  if (resolved && again->dataHash() != node->dataHash()) broken("equal nodes hash alike");

  // A write along the path: the deepest trees validation lets through. Beyond them, an update
  // still takes a call per key of its path (which is why validation bounds paths), but no walk of
  // the tree it makes may take a call per level: such trees are walked too, up to a depth that
  // the update itself can reach in any build.
  constexpr uint64_t kDeepestUnvalidatedWrite = 5000;
  if (writable || path->length() <= kDeepestUnvalidatedWrite) {
    FNodeRef tree = FEmptyNode::emptyNode()->updateChild(path, node);
    walk(tree, resolved);
    if (writable) {  // keys like ".priority" in an unchecked path give other results
      if (!tree->getChild(path)->isEqual(*node)) broken("a written node is read back at its path");
      if (!node->isEmpty() && tree->isEqual(*FEmptyNode::emptyNode())) broken("a write of data leaves data");
      tree = tree->updateChild(path, FEmptyNode::emptyNode());
      if (!tree->isEmpty()) broken("removing the only data leaves nothing");
    }
  }
  return 0;
}
