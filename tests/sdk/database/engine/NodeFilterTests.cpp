// Indexed, ranged and limited node filters: what stays in a view and which changes are reported.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/core/FLimitedFilter.h"
#include "sdk/database/core/FRangedFilter.h"
#include "sdk/database/core/FWriteTree.h"
#include "sdk/database/core/FWriteTreeCompleteChildSource.h"

using namespace enginetest;

namespace {

// "added a 1", "removed b 2", "changed c 3<-1", sorted so the fold order does not matter.
Strings describe(const FChildChangeAccumulator& accumulator) {
  Strings out;
  for (const FChange& change : accumulator.changes()) {
    std::string line = std::string(typeName(change.type())) + " " + *change.childKey() + " " +
                       json(change.indexedNode()->node());
    if (change.oldIndexedNode()) line += "<-" + json(change.oldIndexedNode()->node());
    out.push_back(line);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A source that knows every child of `full` (no pending writes).
struct FullSource {
  explicit FullSource(const char* fullJson, const FIndexRef& index) {
    auto serverCache = std::make_shared<const FCacheNode>(indexed(fullJson, index), true, false);
    auto viewCache = std::make_shared<const FViewCache>(
        std::make_shared<const FCacheNode>(indexed("{}", index), true, true), serverCache);
    source = std::make_shared<FWriteTreeCompleteChildSource>(writes->childWritesForPath(FPath::empty()), viewCache,
                                                              nullptr);
  }
  std::shared_ptr<FWriteTree> writes = std::make_shared<FWriteTree>();
  std::shared_ptr<FWriteTreeCompleteChildSource> source;
};

const FCompleteChildSource& noSource() { return *FNoCompleteChildSource::instance(); }

}  // namespace

TEST(IndexedFilterTest, UnchangedChildrenAndMissingKeysReportNothing) {
  FIndexedFilter filter(FPriorityIndex::priorityIndex());
  auto old = indexed(R"({"a":1,"b":{"c":2}})");
  FChildChangeAccumulator accumulator;
  EXPECT_EQ(filter.updateChildIn(old, "a", node("1"), FPath::empty(), noSource(), &accumulator), old);
  EXPECT_EQ(filter.updateChildIn(old, "b", node(R"({"c":2})"), path("c"), noSource(), &accumulator), old);
  EXPECT_EQ(filter.updateChildIn(old, "zz", empty(), FPath::empty(), noSource(), &accumulator), old);
  EXPECT_TRUE(accumulator.changes().empty());

  auto updated = filter.updateChildIn(old, "a", node("5"), FPath::empty(), noSource(), &accumulator);
  updated = filter.updateChildIn(updated, "b", empty(), FPath::empty(), noSource(), &accumulator);
  updated = filter.updateChildIn(updated, "n", node("true"), FPath::empty(), noSource(), &accumulator);
  EXPECT_EQ(describe(accumulator), (Strings{"added n true", "changed a 5<-1", R"(removed b {"c":2})"}));
  EXPECT_EQ(json(updated->node()), R"({"a":5,"n":true})");

  FIndexedNodeRef emptySnap = indexed("{}");
  EXPECT_EQ(filter.updatePriority(node("3"), emptySnap), emptySnap);
  EXPECT_EQ(filter.updatePriority(node("3"), old)->node()->getPriority()->val(), Value(3));
}

TEST(IndexedFilterTest, FullUpdateReportsTheDifference) {
  FIndexedFilter filter(FPriorityIndex::priorityIndex());
  FChildChangeAccumulator accumulator;
  auto result = filter.updateFullNode(indexed(R"({"a":1,"b":2})"), indexed(R"({"b":3,"c":4})"), &accumulator);
  EXPECT_EQ(json(result->node()), R"({"b":3,"c":4})");
  EXPECT_EQ(describe(accumulator), (Strings{"added c 4", "changed b 3<-2", "removed a 1"}));
}

TEST(RangedFilterTest, BoundsAreInclusive) {
  auto params = FQueryParams::defaultInstance()->orderBy(FValueIndex::valueIndex())->startAt(node("2"))->endAt(node("5"));
  FRangedFilter filter(*params);
  auto old = indexed(R"({"a":3})", FValueIndex::valueIndex());
  FChildChangeAccumulator accumulator;
  auto withFive = filter.updateChildIn(old, "b", node("5"), FPath::empty(), noSource(), &accumulator);
  EXPECT_EQ(json(withFive->node()), R"({"a":3,"b":5})");
  auto sixRemoves = filter.updateChildIn(withFive, "b", node("6"), FPath::empty(), noSource(), &accumulator);
  EXPECT_EQ(json(sixRemoves->node()), R"({"a":3})");
  EXPECT_EQ(describe(accumulator), Strings{});  // added then removed folds away
  EXPECT_TRUE(filter.updateChildIn(old, "c", node("1"), FPath::empty(), noSource(), nullptr)->node()->isEqual(*old->node()));

  auto full = filter.updateFullNode(old, indexed(R"({"x":1,"y":2,"z":5,"w":6})", FValueIndex::valueIndex()), nullptr);
  EXPECT_EQ(json(full->node()), R"({"y":2,"z":5})");
  EXPECT_TRUE(filter.updateFullNode(old, indexed("7", FValueIndex::valueIndex()), nullptr)->node()->isEmpty());
  EXPECT_EQ(filter.updatePriority(node("1"), old), old);
  EXPECT_TRUE(filter.filtersNodes());
}

TEST(LimitedFilterTest, AChildLeavingAFullWindowLetsTheNextOneIn) {
  auto index = FValueIndex::valueIndex();
  auto params = FQueryParams::defaultInstance()->orderBy(index)->limitToFirst(2);
  FLimitedFilter filter(*params);
  auto window = indexed(R"({"a":1,"b":2})", index);

  FullSource bChanged(R"({"a":1,"b":4,"c":3})", index);
  FChildChangeAccumulator accumulator;
  auto result = filter.updateChildIn(window, "b", node("4"), FPath::empty(), *bChanged.source, &accumulator);
  EXPECT_EQ(json(result->node()), R"({"a":1,"c":3})");
  EXPECT_EQ(describe(accumulator), (Strings{"added c 3", "removed b 2"}));

  FullSource cChanged(R"({"a":1,"b":2,"c":0})", index);
  FChildChangeAccumulator pushes;
  result = filter.updateChildIn(window, "c", node("0"), FPath::empty(), *cChanged.source, &pushes);
  EXPECT_EQ(json(result->node()), R"({"a":1,"c":0})");
  EXPECT_EQ(describe(pushes), (Strings{"added c 0", "removed b 2"}));

  // A child beyond the far end of a full window stays out; one that keeps its place changes.
  FChildChangeAccumulator quiet;
  EXPECT_EQ(filter.updateChildIn(window, "d", node("9"), FPath::empty(), *cChanged.source, &quiet), window);
  FullSource aChanged(R"({"a":0,"b":2,"c":3})", index);
  result = filter.updateChildIn(window, "a", node("0"), FPath::empty(), *aChanged.source, &quiet);
  EXPECT_EQ(json(result->node()), R"({"a":0,"b":2})");
  EXPECT_EQ(describe(quiet), (Strings{"changed a 0<-1"}));
}

TEST(LimitedFilterTest, AWindowThatIsNotFullTakesChildrenLikeTheIndexedFilter) {
  auto params = FQueryParams::defaultInstance()->limitToLast(3);
  FLimitedFilter filter(*params);
  EXPECT_TRUE(filter.reverse());
  FChildChangeAccumulator accumulator;
  auto result = filter.updateChildIn(indexed(R"({"a":1})"), "b", node("2"), FPath::empty(), noSource(), &accumulator);
  EXPECT_EQ(json(result->node()), R"({"a":1,"b":2})");
  EXPECT_EQ(describe(accumulator), (Strings{"added b 2"}));
}

TEST(LimitedFilterTest, FullUpdateKeepsTheFirstChildrenOfTheRangeInQueryOrder) {
  auto index = FValueIndex::valueIndex();
  auto source = indexed(R"({"a":1,"b":2,"c":3,"d":4,"e":5})", index);
  auto old = indexed("{}", index);
  FLimitedFilter first(*FQueryParams::defaultInstance()->orderBy(index)->startAt(node("2"))->limitToFirst(2));
  EXPECT_EQ(json(first.updateFullNode(old, source, nullptr)->node()), R"({"b":2,"c":3})");
  FLimitedFilter last(*FQueryParams::defaultInstance()->orderBy(index)->endAt(node("4"))->limitToLast(2));
  EXPECT_EQ(json(last.updateFullNode(old, source, nullptr)->node()), R"({"c":3,"d":4})");
  FLimitedFilter wide(*FQueryParams::defaultInstance()->orderBy(index)->limitToFirst(100));
  EXPECT_EQ(json(wide.updateFullNode(old, source, nullptr)->node()), json(source->node()));
  EXPECT_TRUE(first.updateFullNode(old, indexed("5", index), nullptr)->node()->isEmpty());
  EXPECT_TRUE(first.updateFullNode(old, indexed("{}", index), nullptr)->node()->isEmpty());
  EXPECT_EQ(first.updatePriority(node("1"), source), source);
}

TEST(LimitedFilterTest, ALimitOutsideOneToInt32MaxIsRefusedBeforeAFilterExists) {
  for (int64_t bad : {int64_t{0}, int64_t{-1}, int64_t{2147483648}}) {
    auto params = FQueryParams::defaultInstance()->limitToFirst(bad);
    try {
      params->nodeFilter();
      FAIL() << bad;
    } catch (const NSException& e) {
      EXPECT_EQ(e.name(), NSInvalidArgumentException);
    }
  }
  EXPECT_EQ(FLimitedFilter(*FQueryParams::defaultInstance()->limitToFirst(2147483647)).limit(), 2147483647);
  for (const char* stored : {R"({"l":0,"vf":"l"})", R"({"l":-5})", R"({"l":4294967296})"}) {
    try {
      FQueryParams::fromQueryObject(Value::parse(stored));
      FAIL() << stored;
    } catch (const NSException& e) {
      EXPECT_EQ(e.name(), NSInvalidArgumentException) << stored;
    }
  }
}

TEST(NodeFilterChoiceTest, ParamsChooseIndexedLimitedOrRanged) {
  auto defaults = FQueryParams::defaultInstance();
  EXPECT_TRUE(std::dynamic_pointer_cast<const FIndexedFilter>(defaults->orderBy(FKeyIndex::keyIndex())->nodeFilter()));
  EXPECT_TRUE(std::dynamic_pointer_cast<const FLimitedFilter>(defaults->startAt(node("1"))->limitTo(3)->nodeFilter()));
  auto ranged = std::dynamic_pointer_cast<const FRangedFilter>(defaults->startAt(node("1"))->nodeFilter());
  ASSERT_TRUE(ranged);
  EXPECT_TRUE(FUtilities::isMinName(ranged->startPost()->name()));
  EXPECT_TRUE(ranged->endPost()->node()->isEqual(*FPriorityIndex::priorityIndex()->maxPost()->node()));
  EXPECT_FALSE(ranged->indexedFilter()->filtersNodes());
}
