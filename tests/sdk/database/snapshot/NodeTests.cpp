#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FCompoundHash.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FIndex.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "tests/sdk/database/snapshot/TestNodes.h"

using namespace testnodes;

TEST(SnapshotNodeTest, PlainValuesDetectArrays) {
  EXPECT_EQ(node(R"({"0":"a","1":"b"})")->val(), Value::parse(R"(["a","b"])"));
  EXPECT_EQ(node(R"({"1":"b"})")->val(), Value::parse(R"([null,"b"])"));
  EXPECT_EQ(node(R"({"2":"x"})")->val(), Value::parse(R"({"2":"x"})"));
  EXPECT_EQ(node(R"({"01":"x"})")->val(), Value::parse(R"({"01":"x"})"));
  EXPECT_EQ(node(R"({"-1":"x"})")->val(), Value::parse(R"({"-1":"x"})"));
  // With the export flag it is always a mapping.
  EXPECT_EQ(node(R"({"0":"a","1":"b"})")->valForExport(true), Value::parse(R"({"0":"a","1":"b"})"));
  EXPECT_TRUE(FEmptyNode::emptyNode()->val().is_null());
  EXPECT_EQ(leaf(5, 1)->valForExport(true), Value::parse(R"({".value":5,".priority":1})"));
  EXPECT_EQ(leaf(5)->valForExport(true), Value(5));
  EXPECT_EQ(node(R"({"a":1,".priority":"p"})")->valForExport(true), Value::parse(R"({"a":1,".priority":"p"})"));
}

TEST(SnapshotNodeTest, NumbersKeepTheirKind) {
  EXPECT_TRUE(node("5")->val().is_number_integer());
  EXPECT_TRUE(node("5.0")->val().is_number_float());
  EXPECT_TRUE(node("true")->val().is_boolean());
  EXPECT_EQ(node("18446744073709551615")->val().get<uint64_t>(), 18446744073709551615ULL);
}

TEST(SnapshotNodeTest, UpdatesKeepTheInvariants) {
  FNodeRef withPriority = node(R"({"a":1,".priority":3})");
  // Removing the only child gives the shared empty node; the priority goes with it.
  EXPECT_EQ(withPriority->updateImmediateChild("a", FEmptyNode::emptyNode()), FEmptyNode::emptyNode());
  EXPECT_EQ(FEmptyNode::emptyNode()->updatePriority(leaf(1)), FEmptyNode::emptyNode());

  FNodeRef l = leaf("x", 7);
  FNodeRef grown = l->updateImmediateChild("c", leaf(1));
  EXPECT_FALSE(grown->isLeafNode());
  EXPECT_EQ(grown->val(), Value::parse(R"({"c":1})"));
  EXPECT_EQ(grown->getPriority()->val(), Value(7));
  EXPECT_EQ(l->updateImmediateChild("c", FEmptyNode::emptyNode()), l);
  EXPECT_EQ(l->updateChild(path("c/d"), FEmptyNode::emptyNode()), l);
  EXPECT_EQ(l->getChild(path(".priority/x"))->val(), Value(7));
  EXPECT_TRUE(l->hasChild(".priority"));
  EXPECT_FALSE(leaf("x")->hasChild(".priority"));

  FNodeRef deep = FEmptyNode::emptyNode()->updateChild(path("a/b/c"), leaf(true));
  EXPECT_EQ(deep->val(), Value::parse(R"({"a":{"b":{"c":true}}})"));
  FNodeRef pruned = deep->updateChild(path("a/b/c"), FEmptyNode::emptyNode());
  EXPECT_TRUE(pruned->isEmpty());
  EXPECT_EQ(deep->getChild(path("a/b"))->numChildren(), 1);
  EXPECT_THROW(std::make_shared<const FChildrenNode>(leaf(1), FChildrenNode::emptyChildren()), NSException);
}

TEST(SnapshotNodeTest, OrderOfNodes) {
  std::vector<FNodeRef> ordered{FEmptyNode::emptyNode(), leaf(false), leaf(true), leaf(-1), leaf(2.5),
                                leaf(""), leaf("a"), leaf("b"), node(R"({"z":1})"), FMaxNode::maxNode()};
  for (size_t i = 0; i < ordered.size(); ++i) {
    for (size_t j = 0; j < ordered.size(); ++j) {
      const int expected = i < j ? -1 : (i > j ? 1 : 0);
      EXPECT_EQ(ordered[i]->compare(*ordered[j]), expected) << i << " vs " << j;
    }
  }
  EXPECT_EQ(node(R"({"a":1})")->compare(*node(R"({"b":2})")), 0);
  // Strings compare by UTF-16 code units: U+FF5E sorts after U+1F600 (a surrogate pair).
  EXPECT_EQ(leaf("\xef\xbd\x9e")->compare(*leaf("\xf0\x9f\x98\x80")), 1);
  // Large integers compare exactly.
  EXPECT_EQ(leaf(int64_t{9007199254740993})->compare(*leaf(int64_t{9007199254740992})), 1);
}

TEST(SnapshotNodeTest, Equality) {
  EXPECT_FALSE(leaf(true)->isEqual(*leaf(1)));
  EXPECT_TRUE(leaf(1)->isEqual(*leaf(1.0)));
  EXPECT_EQ(leaf(1)->hash(), leaf(1.0)->hash());
  EXPECT_FALSE(leaf(1, 2)->isEqual(*leaf(1)));
  EXPECT_TRUE(node(R"({"a":{"b":1},"c":"x"})")->isEqual(*node(R"({"c":"x","a":{"b":1}})")));
  EXPECT_FALSE(node(R"({"a":1})")->isEqual(*node(R"({"a":1,".priority":1})")));
  EXPECT_TRUE(FMaxNode::maxNode()->isEqual(*FMaxNode::maxNode()));
  EXPECT_FALSE(FMaxNode::maxNode()->isEqual(*FEmptyNode::emptyNode()));
  EXPECT_FALSE(FEmptyNode::emptyNode()->isEqual(*FMaxNode::maxNode()));
}

TEST(SnapshotNodeTest, HashTextsAndDataHash) {
  EXPECT_EQ(FEmptyNode::emptyNode()->dataHash(), "");
  EXPECT_EQ(leaf("a")->dataHash(), sha1Base64("string:a"));
  EXPECT_EQ(leaf(1)->dataHash(), sha1Base64("number:3ff0000000000000"));
  EXPECT_EQ(leaf(true)->dataHash(), sha1Base64("boolean:true"));
  EXPECT_EQ(leaf("a", 2)->dataHash(), sha1Base64("priority:number:4000000000000000:string:a"));
  EXPECT_EQ(leaf("a")->dataHash().size(), 28u);

  // A child without a priority selects the priority order: b (none) before a (2).
  FNodeRef mixed = node(R"({"a":{".value":1,".priority":2},"b":1})");
  const std::string a = mixed->getImmediateChild("a")->dataHash();
  const std::string b = mixed->getImmediateChild("b")->dataHash();
  EXPECT_EQ(mixed->dataHash(), sha1Base64(":b:" + b + ":a:" + a));
  // Every child with a priority: key order, a before b.
  FNodeRef prioritized = node(R"({"a":{".value":1,".priority":2},"b":{".value":1,".priority":1}})");
  EXPECT_EQ(prioritized->dataHash(),
            sha1Base64(":a:" + prioritized->getImmediateChild("a")->dataHash() + ":b:" +
                       prioritized->getImmediateChild("b")->dataHash()));
  FNodeRef withOwnPriority = node(R"({"x":"y",".priority":"p"})");
  EXPECT_EQ(withOwnPriority->dataHash(),
            sha1Base64("priority:string:p::x:" + withOwnPriority->getImmediateChild("x")->dataHash()));

  // An unresolved server value has no hash text.
  FNodeRef placeholder = node(R"({".sv":"timestamp"})");
  try {
    placeholder->dataHash();
    FAIL() << "hashing a placeholder must raise";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_EQ(e.reason().rfind("Unknown value for hashing: ", 0), 0u);
  }
}

TEST(SnapshotNodeTest, DataHashIsBuiltOnceAcrossThreads) {
  Value big = Value::object();
  for (int i = 0; i < 2000; ++i) big["k" + std::to_string(i)] = i;
  FNodeRef n = FSnapshotUtilities::nodeFrom(big);
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] { results[t] = n->dataHash(); });
  }
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, results[0]);
  // The same content built again hashes alike.
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(big)->dataHash(), results[0]);
  EXPECT_EQ(results[0].size(), 28u);
}

TEST(SnapshotNodeTest, EnumerationAndPriorityVisit) {
  FNodeRef n = node(R"({"b":2,"a":1,"10":3,"9":4})");
  std::vector<std::string> keys;
  n->enumerateChildrenUsingBlock([&](const std::string& k, const FNodeRef&, bool*) { keys.push_back(k); });
  EXPECT_EQ(keys, (std::vector<std::string>{"9", "10", "a", "b"}));
  keys.clear();
  n->enumerateChildrenReverse(true, [&](const std::string& k, const FNodeRef&, bool* stop) {
    keys.push_back(k);
    *stop = keys.size() == 2;
  });
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "a"}));

  auto e = n->childEnumerator();
  std::vector<std::string> named;
  while (auto next = e->nextObject()) named.push_back((*next)->name());
  EXPECT_EQ(named, (std::vector<std::string>{"9", "10", "a", "b"}));
  EXPECT_FALSE(leaf(1)->childEnumerator()->nextObject().has_value());

  FNodeRef numericNode = node(R"({"1":1,"2":2,".priority":5})");
  const auto& numeric = static_cast<const FChildrenNode&>(*numericNode);
  keys.clear();
  numeric.enumerateChildrenAndPriorityUsingBlock([&](const std::string& k, const FNodeRef&, bool*) { keys.push_back(k); });
  EXPECT_EQ(keys, (std::vector<std::string>{"1", "2"}));
  FNodeRef letteredNode = node(R"({"1":1,"a":2,".priority":5})");
  const auto& lettered = static_cast<const FChildrenNode&>(*letteredNode);
  keys.clear();
  lettered.enumerateChildrenAndPriorityUsingBlock([&](const std::string& k, const FNodeRef&, bool*) { keys.push_back(k); });
  EXPECT_EQ(keys, (std::vector<std::string>{"1", ".priority", "a"}));
  EXPECT_EQ(numeric.firstChild()->name(), "1");
  EXPECT_EQ(numeric.lastChild()->name(), "2");
  EXPECT_EQ(*n->predecessorChildKey("a"), "10");
  EXPECT_FALSE(n->predecessorChildKey("9").has_value());
}

TEST(SnapshotNodeTest, LeafIndexOperations) {
  FNodeRef l = leaf("x", 2);
  const auto& asLeaf = static_cast<const FLeafNode&>(*l);
  for (const FIndexRef& index : {FPriorityIndex::priorityIndex(), FKeyIndex::keyIndex(), FValueIndex::valueIndex(),
                                 FIndex::indexFromQueryDefinition("a/b")}) {
    EXPECT_EQ(asLeaf.withIndex(index), l);
    EXPECT_TRUE(asLeaf.isIndexed(index));
  }
  int calls = 0;
  asLeaf.forEachChildDo([&](const std::string&, const FNodeRef&, bool*) { ++calls; });
  EXPECT_EQ(calls, 0);
  FNodeRef interior = node(R"({"a":1})");
  const auto& children = static_cast<const FChildrenNode&>(*interior);
  EXPECT_EQ(children.childrenGetter("a")->val(), Value(1));
  EXPECT_EQ(children.childrenGetter("b"), nullptr);
}

TEST(SnapshotNodeTest, KeysThatAreNotUTF8StayApart) {
  // Both bytes read as U+FFFD; as keys they are still two children, and neither is found by the
  // text of two replacement characters.
  FNodeRef n = FEmptyNode::emptyNode()->updateImmediateChild("\xff", leaf(1))->updateImmediateChild("\xfe", leaf(2));
  EXPECT_EQ(n->numChildren(), 2);
  EXPECT_EQ(n->getImmediateChild("\xff")->val(), Value(1));
  EXPECT_EQ(n->getImmediateChild("\xfe")->val(), Value(2));
  FNodeRef replacement = node(R"({"\ufffd\ufffd":3})");
  EXPECT_TRUE(replacement->getImmediateChild("\xff\xfe")->isEmpty());
}

namespace {
Value nestedValue(int levels) {
  Value v = "leaf";
  for (int i = 0; i < levels; ++i) {
    Value outer = Value::object();
    outer["v"] = std::move(v);
    v = std::move(outer);
  }
  return v;
}
std::string repeated(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}
std::string keys(int count) { return repeated("/k", count); }
}  // namespace

TEST(SnapshotNodeTest, DeepestAdmittedTreeIsWalkedWithinTheStack) {
  // Validation admits a reference path of 1000 keys, an update key of 1000 more below it and a
  // value nested 1000 levels below that.
  const std::string deepPath = keys(2000);
  FNodeRef value = FSnapshotUtilities::nodeFrom(nestedValue(1000), Value(7));
  FNodeRef tree = FEmptyNode::emptyNode()->updateChild(path(deepPath.c_str()), value);
  FNodeRef same = FEmptyNode::emptyNode()->updateChild(path(deepPath.c_str()),
                                                       FSnapshotUtilities::nodeFrom(nestedValue(1000), Value(7)));
  EXPECT_EQ(tree->dataHash().size(), 28u);
  EXPECT_EQ(tree->dataHash(), same->dataHash());
  EXPECT_TRUE(tree->isEqual(*same));
  EXPECT_EQ(tree->hash(), same->hash());
  EXPECT_EQ(tree->getChild(path(deepPath.c_str())), value);
  EXPECT_EQ(tree->description(), repeated(R"({"k":)", 2000) + R"({".priority":7,"v":)" + repeated(R"({"v":)", 999) +
                                     R"("leaf")" + repeated("}", 999) + "}" + repeated("}", 2000));
  // Each level of one key "k" adds 1 + (1 + 4) to the estimate of what lies below it.
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(tree),
            2000u * 6 + FSnapshotUtilities::estimateSerializedNodeSize(value));
  EXPECT_EQ(FCompoundHash::fromNode(tree)->hashes().size(), 2u);
}

TEST(SnapshotNodeTest, WalksDoNotTakeACallPerLevel) {
  // Hashing, export, size estimate, compound hash, comparison and teardown walk a tree from a loop;
  // only the path walked by an update costs a call per key.
  const int levels = 10000;
  const std::string deepPath = keys(levels);
  FNodeRef tree = FEmptyNode::emptyNode()->updateChild(path(deepPath.c_str()), leaf("x", 1));
  FNodeRef same = FEmptyNode::emptyNode()->updateChild(path(deepPath.c_str()), leaf("x", 1));
  FNodeRef other = FEmptyNode::emptyNode()->updateChild(path(deepPath.c_str()), leaf("y", 1));
  EXPECT_EQ(tree->dataHash().size(), 28u);
  EXPECT_EQ(tree->dataHash(), same->dataHash());
  EXPECT_NE(tree->dataHash(), other->dataHash());
  EXPECT_TRUE(tree->isEqual(*same));
  EXPECT_FALSE(tree->isEqual(*other));
  EXPECT_EQ(tree->hash(), same->hash());
  EXPECT_EQ(tree->description(),
            repeated(R"({"k":)", levels) + R"({".priority":1,".value":"x"})" + repeated("}", levels));
  EXPECT_EQ(FUtilities::jsonText(tree->val()), repeated(R"({"k":)", levels) + R"("x")" + repeated("}", levels));
  // "x" is 3, its priority 24 + 8; each level adds 6.
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(tree), levels * 6u + 3 + 24 + 8);
  EXPECT_EQ(FCompoundHash::fromNode(tree)->hashes().size(), 2u);
  tree.reset();
  same.reset();
  other.reset();
  // Reading far below any data walks the path without a frame per key.
  EXPECT_TRUE(FEmptyNode::emptyNode()->getChild(path(keys(200000).c_str()))->isEmpty());
}
