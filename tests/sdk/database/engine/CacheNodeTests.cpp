#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FCacheNode.h"
#include "sdk/database/core/FWriteRecord.h"

using namespace enginetest;

TEST(CacheNodeTest, FullyInitialisedButFilteredIsCompleteOnlyForHeldChildren) {
  FCacheNode filtered(indexed(R"({"a":1,"b":2})"), true, true);
  EXPECT_TRUE(filtered.isCompleteForChild("a"));
  EXPECT_FALSE(filtered.isCompleteForChild("c"));
  EXPECT_FALSE(filtered.isCompleteForPath(*FPath::empty()));
  EXPECT_TRUE(filtered.isCompleteForPath(*path("b/deep")));

  FCacheNode complete(indexed(R"({"a":1})"), true, false);
  EXPECT_TRUE(complete.isCompleteForChild("missing"));
  EXPECT_TRUE(complete.isCompleteForPath(*FPath::empty()));
}

TEST(CacheNodeTest, PartlyLoadedNodeIsNeverCompleteForTheRoot) {
  FCacheNode partial(indexed(R"({"a":1})"), false, false);
  EXPECT_FALSE(partial.isCompleteForPath(*FPath::empty()));
  EXPECT_TRUE(partial.isCompleteForPath(*path("a")));
  EXPECT_FALSE(partial.isCompleteForChild("b"));
}

TEST(WriteRecordTest, AccessorsRefuseTheOtherKind) {
  FWriteRecord overwrite(path("a"), node("1"), 3, false);
  EXPECT_TRUE(overwrite.isOverwrite());
  EXPECT_FALSE(overwrite.visible());
  EXPECT_EQ(overwrite.merge(), nullptr);
  try {
    overwrite.compoundWrite();
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_EQ(e.reason(), "Can't get merge for overwrite write record!");
  }
  FWriteRecord merge(path("a"), FCompoundWrite::emptyWrite()->addWrite(node("2"), path("b")), 4);
  EXPECT_TRUE(merge.visible());
  EXPECT_THROW(merge.overwrite(), NSException);
  EXPECT_THROW(FWriteRecord(path("a"), FNodeRef(), 1, true), NSException);
  EXPECT_THROW(FWriteRecord(path("a"), FCompoundWriteRef(), 1), NSException);
  EXPECT_EQ(overwrite.description(), "FWriteRecord { writeId = 3, path = /a, overwrite = 1, visible = 0 }");
}

TEST(WriteRecordTest, EqualityAndHashFollowEveryField) {
  FWriteRecord a(path("a"), node(R"({"x":1})"), 1, true);
  FWriteRecord same(path("/a/"), node(R"({"x":1})"), 1, true);
  EXPECT_TRUE(a.isEqual(same));
  EXPECT_EQ(a.hash(), same.hash());
  EXPECT_FALSE(a.isEqual(FWriteRecord(path("a"), node(R"({"x":1})"), 1, false)));
  EXPECT_FALSE(a.isEqual(FWriteRecord(path("a"), node(R"({"x":1})"), 2, true)));
  EXPECT_FALSE(a.isEqual(FWriteRecord(path("b"), node(R"({"x":1})"), 1, true)));
  EXPECT_FALSE(a.isEqual(FWriteRecord(path("a"), FCompoundWrite::emptyWrite()->addWrite(node("1"), path("x")), 1)));
}
