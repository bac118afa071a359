#include <gtest/gtest.h>

#include <limits>

#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FServerValues.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace {

using testsupport::node;
const Value kServerValues = FServerValues::generateServerValues(1234.5678);

// The resolved plain value of an increment over an existing leaf (or nothing).
std::optional<Value> incremented(const Value& delta, const FNodeRef& existing) {
  Value op = Value::object();
  op["increment"] = delta;
  return FServerValues::resolveComplexServerOp(op, ExistingValueProvider(existing), kServerValues);
}

}  // namespace

TEST(ServerValuesTest, TimestampTruncatesTowardZero) {
  EXPECT_EQ(kServerValues, Value::parse(R"({"timestamp":1234567})"));
  EXPECT_TRUE(kServerValues["timestamp"].is_number_integer());
  FNodeRef resolved = FServerValues::resolveDeferredValueSnapshotWithExisting(
      node(Value::parse(R"({"t":{".sv":"timestamp"}})")), nullptr, kServerValues);
  EXPECT_EQ(resolved->val(), Value::parse(R"({"t":1234567})"));
}

TEST(ServerValuesTest, IncrementKeepsIntegerKinds) {
  auto r = incremented(5, node(10));
  EXPECT_EQ(*r, Value(15));
  EXPECT_TRUE(r->is_number_integer());
  r = incremented(5, node(2.5));
  EXPECT_EQ(*r, Value(7.5));
  r = incremented(5, node(2.0));
  EXPECT_TRUE(r->is_number_float());
  EXPECT_EQ(r->get<double>(), 7.0);
  EXPECT_EQ(*incremented(1.5, node(10)), Value(11.5));
  EXPECT_EQ(*incremented(5, node(true)), Value(6));
  // An unsigned value above the signed range is not integer-representable.
  r = incremented(1, node(Value(uint64_t{18446744073709551615ULL})));
  EXPECT_TRUE(r->is_number_float());
  r = incremented(1, node(Value(uint64_t{7})));
  EXPECT_TRUE(r->is_number_integer());
  EXPECT_EQ(r->get<int64_t>(), 8);
}

TEST(ServerValuesTest, IncrementOverflowBecomesDouble) {
  auto r = incremented(1, node(std::numeric_limits<int64_t>::max()));
  EXPECT_TRUE(r->is_number_float());
  EXPECT_EQ(r->get<double>(), 9223372036854775808.0);
  r = incremented(-1, node(std::numeric_limits<int64_t>::min()));
  EXPECT_TRUE(r->is_number_float());
  EXPECT_EQ(r->get<double>(), -9223372036854775809.0);
  r = incremented(-1, node(std::numeric_limits<int64_t>::max()));
  EXPECT_TRUE(r->is_number_integer());
}

TEST(ServerValuesTest, IncrementReplacesNonNumbers) {
  EXPECT_EQ(*incremented(5, node(Value("text"))), Value(5));
  EXPECT_EQ(*incremented(5, node(Value::parse(R"({"a":1})"))), Value(5));
  EXPECT_EQ(*incremented(5, nullptr), Value(5));
  EXPECT_EQ(*incremented(5, FEmptyNode::emptyNode()), Value(5));
  // A delta that is not a number resolves to nothing.
  EXPECT_FALSE(incremented("5", node(1)).has_value());
}

TEST(ServerValuesTest, PlainValues) {
  ExistingValueProvider none(nullptr);
  EXPECT_FALSE(FServerValues::resolveDeferredValue(Value::parse(R"({".sv":"other"})"), none, kServerValues));
  EXPECT_EQ(*FServerValues::resolveDeferredValue(Value::parse(R"({"increment":5})"), none, kServerValues),
            Value::parse(R"({"increment":5})"));
  EXPECT_EQ(*FServerValues::resolveDeferredValue(Value::parse(R"({".sv":5})"), none, kServerValues),
            Value::parse(R"({".sv":5})"));
  EXPECT_FALSE(FServerValues::resolveDeferredValue(Value::parse(R"({".sv":{"x":1}})"), none, kServerValues));
}

TEST(ServerValuesTest, NodesResolveInPlace) {
  FNodeRef plain = node(Value::parse(R"({"a":1,"b":{"c":"x",".priority":2}})"));
  EXPECT_EQ(FServerValues::resolveDeferredValueSnapshotWithExisting(plain, nullptr, kServerValues), plain);

  FNodeRef existing = node(Value::parse(R"({"count":41,"other":1})"));
  FNodeRef written = node(Value::parse(R"({"count":{".sv":{"increment":1}},"at":{".sv":"timestamp"},"keep":"k"})"));
  FNodeRef resolved = FServerValues::resolveDeferredValueSnapshotWithExisting(written, existing, kServerValues);
  EXPECT_EQ(resolved->val(), Value::parse(R"({"count":42,"at":1234567,"keep":"k"})"));
  // The unchanged child is shared, not copied.
  EXPECT_EQ(resolved->getImmediateChild("keep"), written->getImmediateChild("keep"));

  FNodeRef withPriority = FSnapshotUtilities::nodeFrom(Value("v"), Value::parse(R"({".sv":"timestamp"})"));
  FNodeRef p = FServerValues::resolveDeferredValueSnapshotWithExisting(withPriority, nullptr, kServerValues);
  EXPECT_EQ(p->getPriority()->val(), Value(1234567));
  FNodeRef parentPriority =
      FSnapshotUtilities::nodeFrom(Value::parse(R"({"a":1})"), Value::parse(R"({".sv":"timestamp"})"));
  EXPECT_EQ(FServerValues::resolveDeferredValueSnapshotWithExisting(parentPriority, nullptr, kServerValues)
                ->getPriority()->val(),
            Value(1234567));
}

TEST(ServerValuesTest, CompoundWritesReadTheTreeOnlyWhereNeeded) {
  int reads = 0;
  auto reader = [&reads](const FPathRef& path) -> FNodeRef {
    ++reads;
    return path->toString() == "/base/n" ? FSnapshotUtilities::nodeFrom(Value(10)) : nullptr;
  };
  FCompoundWriteRef plain = FCompoundWrite::emptyWrite()->addWrite(node(1), FPath::pathWithString("a"));
  EXPECT_EQ(FServerValues::resolveDeferredValueCompoundWrite(plain, reader, FPath::pathWithString("base"), kServerValues),
            plain);
  EXPECT_EQ(reads, 0);
  FCompoundWriteRef inc = plain->addWrite(node(Value::parse(R"({".sv":{"increment":5}})")), FPath::pathWithString("n"));
  auto resolved = FServerValues::resolveDeferredValueCompoundWrite(inc, reader, FPath::pathWithString("base"), kServerValues);
  EXPECT_EQ(resolved->valForExport(false), Value::parse(R"({"a":1,"n":15})"));
  EXPECT_EQ(reads, 1);
}
