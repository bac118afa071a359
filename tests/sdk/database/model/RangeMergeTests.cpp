#include <gtest/gtest.h>

#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FRangeMerge.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace {
using testsupport::node;
using testsupport::path;
}  // namespace

TEST(RangeMergeTest, UnboundedReplacesEverything) {
  FNodeRef updates = node(R"({"z":1})");
  EXPECT_EQ(FRangeMerge(nullptr, nullptr, updates).applyToNode(node(R"({"a":1})")), updates);
}

TEST(RangeMergeTest, LeavesBetweenStartAndEnd) {
  FNodeRef existing = node(R"({"a":1,"b":2,"c":3,"d":4})");
  EXPECT_EQ(FRangeMerge(path("a"), path("c"), node(R"({"a":10,"b":20,"c":30,"d":40})")).applyToNode(existing)->val(),
            Value::parse(R"({"a":1,"b":20,"c":30,"d":4})"));
  // Without update children b and c disappear.
  EXPECT_EQ(FRangeMerge(path("a"), path("c"), node(R"({"x":0})")).applyToNode(existing)->val(),
            Value::parse(R"({"a":1,"d":4})"));
}

TEST(RangeMergeTest, EndWithChildrenKeepsTheExistingEnd) {
  FNodeRef existing = node(R"({"b":1,"c":{"x":1}})");
  FNodeRef result = FRangeMerge(nullptr, path("c"), node(R"({"b":2,"c":{"y":2}})")).applyToNode(existing);
  EXPECT_EQ(result->val(), Value::parse(R"({"b":2,"c":{"x":1}})"));
}

TEST(RangeMergeTest, StartWithChildren) {
  FNodeRef existing = node(R"({"a":{"p":1,"q":2},"b":3})");
  FNodeRef result = FRangeMerge(path("a"), nullptr, node(R"({"a":{"q":9},"b":8})")).applyToNode(existing);
  // Every child of a comes after a: they take the update's content; a itself stays outside.
  EXPECT_EQ(result->val(), Value::parse(R"({"a":{"q":9},"b":8})"));
}

TEST(RangeMergeTest, InvertedRangeChangesNothing) {
  FNodeRef existing = node(R"({"a":1,"b":2,"c":3})");
  EXPECT_EQ(FRangeMerge(path("c"), path("a"), node(R"({"b":7})")).applyToNode(existing), existing);
  EXPECT_EQ(FRangeMerge(path("a"), path("b"), node("{}")).description(),
            "RangeMerge (optExclusiveStart = /a, optExclusiveEng = /b, updates = null)");
}

TEST(RangeMergeTest, PriorityIsSetAfterChildren) {
  FNodeRef result = FRangeMerge(nullptr, path("z"), node(R"({"a":1,".priority":5})")).applyToNode(FEmptyNode::emptyNode());
  EXPECT_EQ(result->valForExport(true), Value::parse(R"({"a":1,".priority":5})"));
}

TEST(RangeMergeTest, PriorityOutsideTheRangeSurvivesTheReplacedChildren) {
  // The only existing child lies in the range and goes; a new one comes in. The priority lies
  // outside the range ("10" sorts before ".priority") and stays, whichever child is visited first.
  FNodeRef existing = node(R"({"1":"x",".priority":5})");
  FNodeRef result = FRangeMerge(nullptr, path("10"), node(R"({"2":"y"})")).applyToNode(existing);
  EXPECT_EQ(result->valForExport(true), Value::parse(R"({"2":"y",".priority":5})"));
  // The same one level down, with keys whose byte order differs from the key order.
  existing = node(R"({"a":{"10":"x",".priority":"p"},"b":1})");
  result = FRangeMerge(path("a/1"), path("a/50"), node(R"({"a":{"9":"y"}})")).applyToNode(existing);
  EXPECT_EQ(result->valForExport(true), Value::parse(R"({"a":{"9":"y",".priority":"p"},"b":1})"));
  // With nothing left in the node the priority goes with it: an empty node has none.
  result = FRangeMerge(nullptr, path("10"), node("{}")).applyToNode(node(R"({"1":"x",".priority":5})"));
  EXPECT_EQ(result, FEmptyNode::emptyNode());
}
