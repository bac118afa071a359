#include <gtest/gtest.h>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace {
using testsupport::node;
const FQueryParamsRef& defaults() { return FQueryParams::defaultInstance(); }
}  // namespace

TEST(QueryParamsTest, WireFormOfLimitsAndBounds) {
  auto last = defaults()->limitToLast(3)->startAt(node(5));
  EXPECT_FALSE(last->isViewFromLeft());
  EXPECT_EQ(last->wireProtocolParams(), Value::parse(R"({"l":3,"vf":"r","sp":5})"));
  EXPECT_EQ(defaults()->limitTo(2)->startAt(node(Value("a")))->wireProtocolParams()["vf"], Value("l"));
  EXPECT_EQ(defaults()->limitTo(2)->wireProtocolParams()["vf"], Value("r"));

  auto start = defaults()->startAt(node(1));
  EXPECT_FALSE(start->wireProtocolParams().contains("sn"));
  EXPECT_TRUE(FUtilities::isMinName(start->indexStartKey()));
  EXPECT_TRUE(FUtilities::isMaxName(start->indexEndKey()));
  auto bounded = defaults()->startAt(node(1), "k1")->endAt(FSnapshotUtilities::nodeFrom(Value(9), Value(2)), "k9");
  EXPECT_EQ(bounded->wireProtocolParams(),
            Value::parse(R"({"sp":1,"sn":"k1","ep":{".value":9,".priority":2},"en":"k9"})"));
  EXPECT_EQ(defaults()->wireProtocolParams(), Value::object());
  EXPECT_FALSE(defaults()->orderBy(FPriorityIndex::priorityIndex())->wireProtocolParams().contains("i"));
  EXPECT_EQ(defaults()->orderBy(FKeyIndex::keyIndex())->wireProtocolParams()["i"], Value(".key"));
  EXPECT_EQ(defaults()->orderBy(FIndex::indexFromQueryDefinition("a/b"))->wireProtocolParams()["i"], Value("a/b"));
}

TEST(QueryParamsTest, RoundTrip) {
  for (const auto& params :
       {defaults()->limitToLast(3)->startAt(node(5)), defaults()->limitTo(7),
        defaults()->orderBy(FValueIndex::valueIndex())->startAt(node(Value("a")), "x")->endAt(node(Value("z"))),
        defaults()->orderBy(FIndex::indexFromQueryDefinition("score/n"))->limitToFirst(1)}) {
    auto back = FQueryParams::fromQueryObject(params->wireProtocolParams());
    EXPECT_TRUE(back->isEqual(*params)) << params->description();
    EXPECT_EQ(back->hash(), params->hash());
  }
  EXPECT_EQ(FQueryParams::fromQueryObject(Value::object()), defaults());
  // A side to count from without a limit selects nothing different: it is not kept, so the query
  // reads back from its wire form as the same query.
  auto sideWithoutLimit = FQueryParams::fromQueryObject(Value::parse(R"({"vf":"r","sp":5})"));
  auto back = FQueryParams::fromQueryObject(sideWithoutLimit->wireProtocolParams());
  EXPECT_TRUE(back->isEqual(*sideWithoutLimit));
  EXPECT_EQ(back->hash(), sideWithoutLimit->hash());
  EXPECT_TRUE(sideWithoutLimit->isEqual(*FQueryParams::fromQueryObject(Value::parse(R"({"sp":5})"))));
  // "sn" without "sp" is ignored.
  auto noStart = FQueryParams::fromQueryObject(Value::parse(R"({"sn":"k"})"));
  EXPECT_FALSE(noStart->hasStart());
  EXPECT_FALSE(noStart->storedStartKey().has_value());
}

TEST(QueryParamsTest, MalformedWireFormsAreRefused) {
  try {
    FQueryParams::fromQueryObject(Value::parse(R"({"l":1,"vf":"x"})"));
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
    EXPECT_EQ(e.reason(), "Unknown view from paramter: x");
  }
  for (const char* bad : {R"({"l":"3"})", R"({"sp":1,"sn":5})", R"({"i":7})", R"({"i":"/"})",
                          R"({"sp":[1,{"a.b":1}]})", R"([1])"}) {
    EXPECT_THROW(FQueryParams::fromQueryObject(Value::parse(bad)), NSException) << bad;
  }
}

TEST(QueryParamsTest, LimitsTakeTheirIntegerValue) {
  EXPECT_EQ(FQueryParams::fromQueryObject(Value::parse(R"({"l":1.5})"))->limit(), 1);
  EXPECT_EQ(FQueryParams::fromQueryObject(Value::parse(R"({"l":3.0})"))->limit(), 3);
  EXPECT_EQ(FQueryParams::fromQueryObject(Value::parse(R"({"l":true})"))->limit(), 1);
  EXPECT_EQ(FQueryParams::fromQueryObject(Value::parse(R"({"l":2147483647.9})"))->limit(), 2147483647);
  EXPECT_TRUE(FQueryParams::fromQueryObject(Value::parse(R"({"l":2.5})"))->limitSet());
  // The integer value must still be a limit a query can have.
  for (const char* bad : {R"({"l":0.5})", R"({"l":-2.9})", R"({"l":-9223372036854775808})"}) {
    try {
      FQueryParams::fromQueryObject(Value::parse(bad));
      ADD_FAILURE() << bad;
    } catch (const NSException& e) {
      EXPECT_EQ(e.name(), "NSInvalidArgumentException") << bad;
    }
  }
}

TEST(QueryParamsTest, FieldsOfTheWrongTypeAreInvalidArguments) {
  // Values handed in by code can be nested deeper than any parser would let through.
  auto deep = [] {
    Value v = 1;
    for (int i = 0; i < 100000; ++i) {
      Value outer = Value::array();
      outer.push_back(std::move(v));
      v = std::move(outer);
    }
    return v;
  };
  std::vector<Value> bad{Value::parse(R"({"l":"3"})"), Value::parse(R"({"l":null})"), Value::parse(R"({"l":[1]})"),
                         Value::parse(R"({"l":1e300})"), Value::parse(R"({"l":18446744073709551615})"),
                         Value{{"l", std::nan("")}}, Value::parse(R"({"sp":1,"sn":5})"),
                         Value::parse(R"({"ep":1,"en":{}})"), Value::parse(R"({"i":7})"), Value::parse(R"({"i":"/"})"),
                         Value::parse("[1]"), Value("x"), Value{{"vf", 1}}};
  for (const char* key : {"l", "vf", "i"}) {
    Value withDeep = Value::object();
    withDeep[key] = deep();
    bad.push_back(std::move(withDeep));
  }
  Value deepKey{{"sp", 1}};
  deepKey["sn"] = deep();
  bad.push_back(std::move(deepKey));
  for (const Value& dict : bad) {
    try {
      FQueryParams::fromQueryObject(dict);
      ADD_FAILURE() << "accepted";
    } catch (const NSException& e) {
      EXPECT_EQ(e.name(), "NSInvalidArgumentException") << e.reason();
      EXPECT_LT(e.reason().size(), 200u);
    }
  }
}

TEST(QueryParamsTest, EqualityAndDerivedTests) {
  auto a = defaults()->limitTo(0);
  auto unlimited5 = defaults()->limitTo(5)->startAt(node(1));
  EXPECT_FALSE(a->isEqual(*defaults()));
  // Unequal although neither has a limit set: the stored numbers differ.
  auto x = FQueryParams::fromQueryObject(Value::parse(R"({"l":3})"));
  EXPECT_FALSE(x->isEqual(*defaults()->limitTo(4)));
  EXPECT_FALSE(defaults()->startAt(node(1), FUtilities::minName())->isEqual(*defaults()->startAt(node(1))));
  EXPECT_TRUE(defaults()->isDefault());
  EXPECT_FALSE(defaults()->orderBy(FKeyIndex::keyIndex())->isDefault());
  EXPECT_TRUE(defaults()->orderBy(FKeyIndex::keyIndex())->loadsAllData());
  EXPECT_FALSE(unlimited5->endAt(node(9))->isValid());
  EXPECT_TRUE(defaults()->limitToFirst(5)->startAt(node(1))->endAt(node(9))->isValid());

  auto querySpec = FQuerySpec::defaultQueryAtPath(FPath::pathWithString("a/b"));
  FQuerySpec same(FPath::pathWithString("/a/b/"), FQueryParams::fromQueryObject(Value::object()));
  EXPECT_TRUE(querySpec->isEqual(same));
  EXPECT_EQ(querySpec->hash(), same.hash());
  EXPECT_EQ(querySpec->description(), "FQuerySpec (path: /a/b, params: {})");
  EXPECT_TRUE(querySpec->loadsAllData());
}
