#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FSnapshotHolder.h"
#include "sdk/database/snapshot/FSparseSnapshotTree.h"
#include "tests/sdk/database/snapshot/TestNodes.h"

using namespace testnodes;

namespace {

// Runs `f` and returns the exception it raised (name and reason), failing when it raised none.
template <class F>
NSException raised(F&& f) {
  try {
    f();
  } catch (const NSException& e) {
    return e;
  }
  ADD_FAILURE() << "no exception";
  return NSException("", "");
}

Value nested(int levels) {
  Value v = 1;
  for (int i = 0; i < levels; ++i) {
    Value outer = Value::object();
    outer["k"] = std::move(v);
    v = std::move(outer);
  }
  return v;
}

}  // namespace

TEST(NodeConversionTest, DepthLimit) {
  EXPECT_FALSE(FSnapshotUtilities::nodeFrom(nested(1000))->isEmpty());
  NSException e = raised([] { FSnapshotUtilities::nodeFromWithValidationFrom(nested(1001), "setValue:"); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  // The first 100 keys are shown.
  std::string keys = "k";
  for (int i = 1; i < 100; ++i) keys += ".k";
  EXPECT_EQ(e.reason(), "(setValue:) Max object depth exceeded: " + keys + "...");
}

TEST(NodeConversionTest, ValuesAndPriorities) {
  FNodeRef n = FSnapshotUtilities::nodeFrom(Value::parse(R"({".value":5,".priority":1})"));
  EXPECT_TRUE(n->isLeafNode());
  EXPECT_EQ(n->val(), Value(5));
  EXPECT_EQ(n->getPriority()->val(), Value(1));
  // The mapping's own ".priority" wins over the argument.
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":1,".priority":"in"})"), Value("arg"))
                ->getPriority()->val(), Value("in"));
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(Value(3), Value("arg"))->getPriority()->val(), Value("arg"));

  NSException e = raised([] { FSnapshotUtilities::nodeFromWithValidationFrom(Value::parse(R"({".value":[1]})"), "f"); });
  EXPECT_EQ(e.name(), "InvalidLeafValueType");
  EXPECT_EQ(e.reason(), "(f) Invalid data type used with .value. Can only use NSString and NSNumber or be null. "
                        "Found NSArray instead.");
  // A ".value" of null holds nothing.
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(Value::parse(R"({".value":null,".priority":1})")), FEmptyNode::emptyNode());
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":null})")), FEmptyNode::emptyNode());
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":{}})")), FEmptyNode::emptyNode());
  EXPECT_EQ(FSnapshotUtilities::nodeFrom(Value(), Value(5)), FEmptyNode::emptyNode());
}

TEST(NodeConversionTest, ArraysAndKeys) {
  FNodeRef n = FSnapshotUtilities::nodeFrom(Value::parse("[null, 7]"));
  EXPECT_EQ(n->numChildren(), 1);
  EXPECT_EQ(n->getImmediateChild("1")->val(), Value(7));
  EXPECT_EQ(n->val(), Value::parse("[null, 7]"));
  // ".priority" never becomes a child.
  FNodeRef withPriority = FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":{"b":1,".priority":2}})"));
  EXPECT_EQ(withPriority->getChild(path("a"))->numChildren(), 1);
  EXPECT_EQ(withPriority->getChild(path("a/.priority"))->val(), Value(2));
  NSException e = raised([] { FSnapshotUtilities::nodeFromWithValidationFrom(Value::parse(R"({"a":{"b.c":1}})"), "f"); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), "(f) Invalid key in object at path: a. Keys must be non-empty and cannot contain '/' '.' '#' "
                        "'$' '[' or ']'");
}

TEST(NodeConversionTest, UnsupportedAndNonFiniteValues) {
  NSException e = raised([] {
    FSnapshotUtilities::nodeFromWithValidationFrom(Value{{"when", value::date(5)}}, "setValue:");
  });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), "(setValue:) Cannot store object of type NSDate at when. Can only store objects of type "
                        "NSNumber, NSString, NSDictionary, and NSArray.");
  e = raised([] { FSnapshotUtilities::nodeFromWithValidationFrom(Value{{"x", std::nan("")}}, "f"); });
  EXPECT_EQ(e.reason(), "(f) Cannot store NaN at path: x.");
  e = raised([] {
    FSnapshotUtilities::nodeFromWithValidationFrom(Value{{"x", std::numeric_limits<double>::infinity()}}, "f");
  });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  e = raised([] { FSnapshotUtilities::nodeFrom(Value(1), Value(-std::numeric_limits<double>::infinity()), "f"); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  e = raised([] { FSnapshotUtilities::nodeFrom(Value(1), Value(std::nan("")), "f"); });
  EXPECT_EQ(e.reason(), "(f) Cannot store NaN as priority at path: .");
  e = raised([] { FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":{".value":1,".priority":true}})")); });
  EXPECT_EQ(e.reason(), "(nodeFrom:priority:) Cannot store true/false as priority at path: a.");
}

TEST(NodeConversionTest, ServerValuePlaceholdersAreChecked) {
  EXPECT_TRUE(FSnapshotUtilities::nodeFrom(Value::parse(R"({".sv":"timestamp"})"))->isLeafNode());
  EXPECT_TRUE(FSnapshotUtilities::nodeFrom(Value::parse(R"({".sv":{"increment":2.5}})"))->isLeafNode());
  for (const char* bad : {R"({".sv":"now"})", R"({".sv":{"increment":"1"}})", R"({".sv":{"increment":true}})",
                          R"({".sv":{"decrement":1}})", R"({".sv":5})", R"({"a":{".sv":{"increment":null}}})"}) {
    NSException e = raised([&] { FSnapshotUtilities::nodeFromWithValidationFrom(Value::parse(bad), "setValue:"); });
    EXPECT_EQ(e.name(), "InvalidZirezizeData") << bad;
    EXPECT_EQ(e.reason().rfind("(setValue:) ", 0), 0u) << bad;
  }
  // As a priority too.
  NSException e = raised([] { FSnapshotUtilities::nodeFrom(Value(1), Value::parse(R"({".sv":"later"})"), "f"); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  e = raised([] { FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":{".sv":"timestamp","b":1}})"), Value(), "f"); });
  EXPECT_EQ(e.reason(), "(f) Cannot store other keys with server value keys.a.");
}

TEST(NodeConversionTest, UpdateDictionaries) {
  auto write = FSnapshotUtilities::compoundWriteFromDictionary(Value::parse(R"({"a":1,"ab":{"c":2}})"), "update");
  EXPECT_EQ(write->completeNodeAtPath(path("ab/c"))->val(), Value(2));
  for (const char* bad : {R"({"a":1,"a/b":2})", R"({"a":1,"/a/":2})"}) {
    NSException e = raised([&] { FSnapshotUtilities::compoundWriteFromDictionary(Value::parse(bad), "update"); });
    EXPECT_EQ(e.name(), "InvalidZirezizeData");
    EXPECT_EQ(e.reason().rfind("(update) Invalid path in object. Path (/a) is an ancestor of (/a", 0), 0u) << e.reason();
  }
  NSException e = raised([] { FSnapshotUtilities::compoundWriteFromDictionary(Value::parse(R"({"a/.priority":true})"), "u"); });
  EXPECT_EQ(e.reason(), "(u) Cannot store true/false as priority at path: .");
  e = raised([] { FSnapshotUtilities::compoundWriteFromDictionary(Value(5), "u"); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
}

TEST(NodeConversionTest, SizeEstimates) {
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(leaf("abc")), 5u);
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(leaf(true)), 4u);
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(leaf(1.5)), 8u);
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(leaf("abc", 1)), 37u);
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(node(R"({"a":1})")), 14u);
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(FEmptyNode::emptyNode()), 4u);
  // A priority counts under ".priority" (9 characters) when it is visited.
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(node(R"({"a":1,".priority":2})")), 1u + 13 + (9 + 4 + 8));
  // UTF-16 units: one character above U+FFFF counts two.
  EXPECT_EQ(FSnapshotUtilities::estimateSerializedNodeSize(leaf("\xf0\x9f\x98\x80")), 4u);
  EXPECT_THROW(FSnapshotUtilities::estimateSerializedNodeSize(node(R"({".sv":"timestamp"})")), NSException);
}

TEST(SnapshotHolderTest, HoldsOneRoot) {
  FSnapshotHolder holder;
  EXPECT_TRUE(holder.rootNode()->isEmpty());
  holder.updateSnapshot(path("connected"), leaf(true));
  holder.updateSnapshot(path("serverTimeOffset"), leaf(12));
  EXPECT_EQ(holder.getNode(path("connected"))->val(), Value(true));
  EXPECT_EQ(holder.rootNode()->numChildren(), 2);
}

TEST(SparseSnapshotTreeTest, RememberFindForget) {
  FSparseSnapshotTree tree;
  tree.rememberData(leaf("X"), path("a/b"));
  tree.rememberData(node(R"({"b":"Y","c":"Z"})"), path("a"));
  EXPECT_EQ(tree.findPath(path("a/b"))->val(), Value("Y"));
  EXPECT_EQ(tree.findPath(path("q")), nullptr);

  FSparseSnapshotTree leafTree;
  leafTree.rememberData(leaf("L"), path("a/b"));
  EXPECT_FALSE(leafTree.forgetPath(path("a/b/c")));
  EXPECT_EQ(leafTree.findPath(path("a/b"))->val(), Value("L"));

  // Forgetting inside a remembered interior node splits it into its children.
  EXPECT_FALSE(tree.forgetPath(path("a/b")));
  EXPECT_EQ(tree.findPath(path("a/b")), nullptr);
  EXPECT_EQ(tree.findPath(path("a/c"))->val(), Value("Z"));
  std::vector<std::string> seen;
  tree.forEachTreeAtPath(FPath::empty(), [&](const FPathRef& p, const FNodeRef& n) {
    seen.push_back(p->toString() + "=" + n->val().get<std::string>());
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"/a/c=Z"}));
  EXPECT_TRUE(tree.forgetPath(path("a/c")));
  EXPECT_TRUE(tree.forgetPath(FPath::empty()));
}

TEST(NodeConversionTest, RefusedPriorityPlaceholdersNameTheCalledOperation) {
  NSException e = raised([] {
    FSnapshotUtilities::nodeFrom(Value(1), Value::parse(R"({".sv":"later"})"), "setValue:andPriority:");
  });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), R"((setValue:andPriority:) Unknown server value: "later" at path: .)");
  e = raised([] {
    FSnapshotUtilities::nodeFromWithValidationFrom(Value::parse(R"({"a":{"b":1,".priority":{".sv":{"increment":"1"}}}})"),
                                                   "setValue:");
  });
  EXPECT_EQ(e.reason(), "(setValue:) Server value increment must be a number at path: a.");
}

TEST(NodeConversionTest, DeepPlaceholdersAreRefusedWithoutWritingThemOut) {
  // Values handed in by code can be nested far deeper than the parser admits; the message shows
  // the refused operation only in outline.
  auto deepPlaceholder = [] {
    Value v = 1;
    for (int i = 0; i < 100000; ++i) {
      Value outer = Value::array();
      outer.push_back(std::move(v));
      v = std::move(outer);
    }
    Value sv = Value::object();
    sv[".sv"] = std::move(v);
    return sv;
  };
  NSException e = raised([&] { FSnapshotUtilities::nodeFromWithValidationFrom(deepPlaceholder(), "setValue:"); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), "(setValue:) Unknown server value: [...] at path: .");
  e = raised([&] { FSnapshotUtilities::nodeFrom(Value(1), deepPlaceholder(), "setPriority:"); });
  EXPECT_EQ(e.reason(), "(setPriority:) Unknown server value: [...] at path: .");
}

TEST(NodeConversionTest, TextsThatAreNotUTF8AreRefused) {
  NSException e = raised([] { FSnapshotUtilities::nodeFromWithValidationFrom(Value{{"a", "\xff"}}, "setValue:"); });
  EXPECT_EQ(e.reason(), "(setValue:) Cannot store a string that is not valid UTF-8 at path: a.");
  e = raised([] { FSnapshotUtilities::nodeFromWithValidationFrom(Value{{"\xff", 1}, {"\xfe", 2}}, "setValue:"); });
  EXPECT_EQ(e.reason(), "(setValue:) Invalid key in object at path: . Keys must be valid UTF-8");
  e = raised([] { FSnapshotUtilities::nodeFrom(Value(1), Value("\xc0\xaf"), "setValue:andPriority:"); });
  EXPECT_EQ(e.reason(), "(setValue:andPriority:) Cannot store a string that is not valid UTF-8 at path: .");
  // The ancestor check of an update map compares keys; keys that are not text never reach it.
  e = raised([] {
    FSnapshotUtilities::compoundWriteFromDictionary(Value{{"\xff", 1}, {"\xfe/a", 2}, {"\xff/a", 3}}, "updateChildValues:");
  });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), "(updateChildValues:) Invalid key in object. Keys must be valid UTF-8");
}
