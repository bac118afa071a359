// Indexed, ranged and limited node filters: what stays in a view and which changes are reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/core/FLimitedFilter.h"
#include "sdk/database/core/FRangedFilter.h"
#include "sdk/database/core/FWriteTree.h"
#include "sdk/database/core/FWriteTreeCompleteChildSource.h"
#include "sdk/database/snapshot/FNamedNode.h"

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

TEST(ChildChangeAccumulatorTest, FoldsAFewChildrenAndManyAlikeAndHandsThemOnInKeyOrder) {
  // A few changes are kept in a short list, more move to a map: the folds, the order handed on
  // and the emptying by takeChanges must not depend on which.
  auto change = [](FEventType type, const char* key, const char* value) {
    return FChange(type, FIndexedNode::indexedNodeWithNode(node(value)), key);
  };
  auto lines = [](const std::vector<FChange>& changes) {
    Strings out;
    for (const FChange& c : changes) out.push_back(std::string(typeName(c.type())) + " " + *c.childKey() + " " + json(c.indexedNode()->node()));
    return out;
  };
  for (int extra : {0, 6}) {
    SCOPED_TRACE(extra);
    FChildChangeAccumulator accumulator;
    accumulator.trackChildChange(change(FEventTypeChildAdded, "m", "1"));
    accumulator.trackChildChange(change(FEventTypeChildAdded, "c", "2"));
    accumulator.trackChildChange(change(FEventTypeChildRemoved, "x", "3"));
    Strings expected{"added c 5", "added m 1", "changed x 4"};
    for (int i = 0; i < extra; ++i) {
      const std::string key = "k" + std::to_string(extra - i);
      accumulator.trackChildChange(change(FEventTypeChildAdded, key.c_str(), "0"));
      expected.push_back("added " + key + " 0");
    }
    accumulator.trackChildChange(change(FEventTypeChildChanged, "c", "5"));  // added, then changed: added
    accumulator.trackChildChange(change(FEventTypeChildAdded, "x", "4"));    // removed, then added: changed
    accumulator.trackChildChange(change(FEventTypeChildAdded, "a", "6"));
    accumulator.trackChildChange(change(FEventTypeChildRemoved, "a", "6"));  // added, then removed: nothing
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines(accumulator.changes()), expected);
    EXPECT_EQ(lines(accumulator.takeChanges()), expected);
    EXPECT_TRUE(accumulator.changes().empty());
    EXPECT_THROW(
        {
          accumulator.trackChildChange(change(FEventTypeChildAdded, "z", "1"));
          accumulator.trackChildChange(change(FEventTypeChildAdded, "z", "1"));
        },
        NSException);
  }
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

namespace {

// The window of a limited query worked out the plain way: every child sorted in the query's order,
// those within the bounds, then the first (or, counted from the end, the last) `limit` of them.
// The children come back in the query's order.
std::vector<FNamedNodeRef> plainWindow(const FNode& all, const FQueryParams& params) {
  const FIndexRef& index = params.index();
  FRangedFilter range(params);
  std::vector<FNamedNodeRef> inRange;
  all.enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (range.matchesKey(key, *child)) inRange.push_back(FNamedNode::nodeWithName(key, child));
  });
  auto before = [&](const FNamedNodeRef& a, const FNamedNodeRef& b) { return index->compareNamedNode(*a, *b) < 0; };
  std::sort(inRange.begin(), inRange.end(), before);
  const auto limit = static_cast<size_t>(std::min<int64_t>(params.limit(), static_cast<int64_t>(inRange.size())));
  if (params.isViewFromLeft()) return {inRange.begin(), inRange.begin() + static_cast<std::ptrdiff_t>(limit)};
  return {inRange.end() - static_cast<std::ptrdiff_t>(limit), inRange.end()};
}

FNodeRef nodeOf(const std::vector<FNamedNodeRef>& children) {
  FNodeRef out = empty();
  for (const FNamedNodeRef& named : children) out = out->updateImmediateChild(named->name(), named->node());
  return out;
}

Strings namesOf(const std::vector<FNamedNodeRef>& children) {
  Strings out;
  for (const FNamedNodeRef& named : children) out.push_back(named->name());
  return out;
}

// The changes from `before` to `after`, in the form describe() gives them.
Strings plainDifference(const FNodeRef& before, const FNodeRef& after) {
  Strings out;
  before->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (!after->hasChild(key)) out.push_back("removed " + key + " " + json(child));
  });
  after->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    FNodeRef old = before->getImmediateChild(key);
    if (old->isEmpty()) {
      out.push_back("added " + key + " " + json(child));
    } else if (!old->isEqual(*child)) {
      out.push_back("changed " + key + " " + json(child) + "<-" + json(old));
    }
  });
  std::sort(out.begin(), out.end());
  return out;
}

// Children with few distinct sort values, so that many tie and fall back to their keys; some
// carry a priority. The node is built one update at a time, some children first written with a
// priority that a later write takes away, and some written and removed again.
FNodeRef childrenWithTies(int count, std::mt19937& random) {
  const std::vector<Value> values{Value(1), Value(2), Value(2), Value(3), Value("x"), Value{{"s", 1}}, Value{{"s", 2}}};
  const std::vector<Value> priorities{Value(), Value(), Value(), Value(1), Value(2), Value("p")};
  auto pick = [&](const std::vector<Value>& from) { return from[random() % from.size()]; };
  auto child = [&](const Value& value, const Value& priority) {
    if (priority.is_null()) return node(value);
    Value withPriority = value.is_object() ? value : Value{{".value", value}};
    withPriority[".priority"] = priority;
    return node(withPriority);
  };
  FNodeRef all = empty();
  for (int i = 0; i < count; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "c%02d", i);
    if (random() % 4 == 0) all = all->updateImmediateChild(key, child(pick(values), Value(7)));
    all = all->updateImmediateChild(key, child(pick(values), pick(priorities)));
    if (random() % 5 == 0) {
      all = all->updateImmediateChild(std::string(key) + "gone", child(Value(1), Value(9)));
      all = all->updateImmediateChild(std::string(key) + "gone", empty());
    }
  }
  return all;
}

// A random part of the children: what an earlier window may have held.
FNodeRef someOf(const FNodeRef& all, std::mt19937& random) {
  FNodeRef part = empty();
  all->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (random() % 3 == 0) part = part->updateImmediateChild(key, random() % 4 == 0 ? node("\"old\"") : child);
  });
  return part;
}

}  // namespace

TEST(LimitedFilterTest, FullUpdateKeepsTheSameWindowAsSortingEveryChildForEveryLimitAndBound) {
  struct Bounds {
    const char* start;
    const char* startKey;
    const char* end;
  };
  struct Ordering {
    FIndexRef index;
    std::vector<Bounds> bounds;
  };
  const std::vector<Ordering> orderings{
      {FPriorityIndex::priorityIndex(), {{nullptr, nullptr, nullptr}, {"1", nullptr, nullptr}, {nullptr, nullptr, "2"},
                                         {"1", "c05", "\"p\""}}},
      {FValueIndex::valueIndex(), {{nullptr, nullptr, nullptr}, {"2", nullptr, nullptr}, {"2", "c04", "3"},
                                   {nullptr, nullptr, "2"}}},
      {FKeyIndex::keyIndex(), {{nullptr, nullptr, nullptr}, {"\"c03\"", nullptr, "\"c09\""}}},
      {std::make_shared<const FPathIndex>(path("s")), {{nullptr, nullptr, nullptr}, {"2", nullptr, nullptr},
                                                        {"1", "c02", "1"}}},
  };
  std::mt19937 random(20240611);
  for (int count : {0, 1, 2, 3, 4, 7, 8, 9, 25, 60}) {
    for (const Ordering& ordering : orderings) {
      const FNodeRef all = childrenWithTies(count, random);
      const FNodeRef before = someOf(all, random);
      std::vector<int64_t> limits{1, 2, count / 2 - 1, count / 2, count / 2 + 1, count - 1, count, count + 1};
      for (int64_t limit : limits) {
        if (limit < 1) continue;
        for (const Bounds& bounds : ordering.bounds) {
          for (bool fromStart : {true, false}) {
            FQueryParamsRef params = FQueryParams::defaultInstance()->orderBy(ordering.index);
            if (bounds.start) {
              params = params->startAt(node(bounds.start),
                                       bounds.startKey ? std::optional<std::string>(bounds.startKey) : std::nullopt);
            }
            if (bounds.end) params = params->endAt(node(bounds.end));
            params = fromStart ? params->limitToFirst(limit) : params->limitToLast(limit);
            SCOPED_TRACE(ordering.index->description() + " children " + std::to_string(count) + " limit " +
                         std::to_string(limit) + (fromStart ? " first" : " last") + " start " +
                         (bounds.start ? bounds.start : "-") + " end " + (bounds.end ? bounds.end : "-"));

            FLimitedFilter filter(*params);
            FChildChangeAccumulator accumulator;
            auto result = filter.updateFullNode(FIndexedNode::indexedNodeWithNode(before, ordering.index),
                                                FIndexedNode::indexedNodeWithNode(all, ordering.index), &accumulator);
            const std::vector<FNamedNodeRef> window = plainWindow(*all, *params);
            const FNodeRef expected = nodeOf(window);
            EXPECT_TRUE(result->node()->isEqual(*expected)) << json(result->node()) << " not " << json(expected);
            EXPECT_EQ(describe(accumulator), plainDifference(before, expected));
            // The window reads in the query's order, as the events for it are made.
            Strings order;
            result->enumerateChildrenReverse(false, [&](const std::string& key, const FNodeRef&, bool*) {
              order.push_back(key);
            });
            EXPECT_EQ(order, namesOf(window));
          }
        }
      }
    }
  }
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
