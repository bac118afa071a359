#include <gtest/gtest.h>

#include "sdk/database/core/FOperation.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace {
using testsupport::node;
using testsupport::path;
}  // namespace

TEST(OperationTest, OverwriteNarrowsToChildren) {
  FOverwrite deep(FOperationSource::userInstance(), path("a/b"), node("1"));
  auto child = std::dynamic_pointer_cast<const FOverwrite>(deep.operationForChild("a"));
  ASSERT_TRUE(child);
  EXPECT_EQ(child->path()->toString(), "/b");
  EXPECT_EQ(child->snap(), deep.snap());

  FOverwrite here(FOperationSource::serverInstance(), FPath::empty(), node(R"("leaf")"));
  auto narrowed = std::dynamic_pointer_cast<const FOverwrite>(here.operationForChild("x"));
  ASSERT_TRUE(narrowed);
  EXPECT_TRUE(narrowed->snap()->isEmpty());
  EXPECT_EQ(narrowed->source(), FOperationSource::serverInstance());
}

TEST(OperationTest, MergeNarrowsToOverwritesOrMerges) {
  auto write = FCompoundWrite::emptyWrite()->addWrite(node("1"), path("a"))->addWrite(node("2"), path("b/c"));
  auto merge = std::make_shared<const FMerge>(FOperationSource::userInstance(), FPath::empty(), write);
  EXPECT_EQ(merge->operationForChild("z"), nullptr);
  auto a = std::dynamic_pointer_cast<const FOverwrite>(merge->operationForChild("a"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->snap()->val(), Value(1));
  auto b = std::dynamic_pointer_cast<const FMerge>(merge->operationForChild("b"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->children()->valForExport(false), Value::parse(R"({"c":2})"));
  EXPECT_EQ(b->type(), FOperationTypeMerge);
  auto deeper = FMerge(FOperationSource::userInstance(), path("p/q"), write).operationForChild("p");
  EXPECT_EQ(deeper->path()->toString(), "/q");
}

TEST(OperationTest, AckUserWrite) {
  auto whole = std::make_shared<const FAckUserWrite>(FPath::empty(), FAffectedTree::empty()->setValue(true, *FPath::empty()), false);
  EXPECT_EQ(whole->operationForChild("any"), whole);
  auto partial = std::make_shared<const FAckUserWrite>(
      FPath::empty(), FAffectedTree::empty()->setValue(true, *path("a/b")), true);
  auto untouched = std::dynamic_pointer_cast<const FAckUserWrite>(partial->operationForChild("z"));
  ASSERT_TRUE(untouched);
  EXPECT_TRUE(untouched->affectedTree()->isEmpty());
  EXPECT_TRUE(untouched->revert());
  auto touched = std::dynamic_pointer_cast<const FAckUserWrite>(partial->operationForChild("a"));
  EXPECT_TRUE(touched->affectedTree()->valueAtPath(*path("b")).value_or(false));
  EXPECT_EQ(touched->source(), FOperationSource::userInstance());
}

TEST(OperationTest, ListenCompleteAndSources) {
  auto params = FQueryParams::defaultInstance()->limitToFirst(2);
  auto tagged = FOperationSource::forServerTaggedQuery(params);
  EXPECT_NE(tagged, FOperationSource::forServerTaggedQuery(params));
  EXPECT_TRUE(tagged->isTagged());
  EXPECT_TRUE(tagged->fromServer());
  EXPECT_EQ(FOperationSource::userInstance(), FOperationSource::userInstance());
  FListenComplete lc(tagged, path("a"));
  auto child = lc.operationForChild("a");
  EXPECT_TRUE(child->path()->isEmpty());
  EXPECT_EQ(child->source(), tagged);
  EXPECT_EQ(child->operationForChild("b")->type(), FOperationTypeListenComplete);
  EXPECT_EQ(FOperationSource::userInstance()->description(),
            "FOperationSource { fromUser=1, fromServer=0, queryId=(null), tagged=0 }");
  EXPECT_EQ(FListenComplete(FOperationSource::userInstance(), path("a")).description(),
            "FListenComplete { path=/a, source=FOperationSource { fromUser=1, fromServer=0, queryId=(null), tagged=0 } }");
}
