#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/database/core/FCompoundHash.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace {
using testsupport::node;
std::string sha1Base64(const std::string& text) {
  auto d = security::sha1(text);
  return ns::base64Encode(std::vector<uint8_t>(d.begin(), d.end()));
}
}  // namespace

TEST(CompoundHashTest, SmallNodes) {
  auto empty = FCompoundHash::fromNode(FEmptyNode::emptyNode());
  EXPECT_TRUE(empty->posts().empty());
  EXPECT_EQ(empty->hashes(), std::vector<std::string>{""});

  auto leaf = FCompoundHash::fromNode(node(Value("abc")));
  ASSERT_EQ(leaf->posts().size(), 1u);
  EXPECT_TRUE(leaf->posts()[0]->isEmpty());
  EXPECT_EQ(leaf->hashes(), (std::vector<std::string>{sha1Base64(R"((string:"abc"))"), ""}));

  auto one = FCompoundHash::fromNode(node(Value::parse(R"({"a":1})")));
  ASSERT_EQ(one->posts().size(), 1u);
  EXPECT_EQ(one->posts()[0]->toString(), "/a");
  EXPECT_EQ(one->hashes()[0], sha1Base64(R"(("a":(number:3ff0000000000000)))"));

  auto quoted = FCompoundHash::fromNode(node(Value::parse(R"({"q\"k":"a\\b","r":{"s":true}})")));
  EXPECT_EQ(quoted->hashes()[0], sha1Base64(R"(("q\"k":(string:"a\\b"),"r":("s":(boolean:true))))"));
  EXPECT_THROW(FCompoundHash({}, {}), NSException);
}

TEST(CompoundHashTest, SplitsReopenOpenLevels) {
  // Split after every leaf: each range re-opens the keys above it and has no leading comma.
  auto everyLeaf = [](const FCompoundHashBuilder&) { return true; };
  auto h = FCompoundHash::fromNode(node(Value::parse(R"({"a":{"x":1,"y":2}})")), everyLeaf);
  ASSERT_EQ(h->posts().size(), 2u);
  EXPECT_EQ(h->posts()[0]->toString(), "/a/x");
  EXPECT_EQ(h->posts()[1]->toString(), "/a/y");
  EXPECT_EQ(h->hashes()[0], sha1Base64(R"(("a":("x":(number:3ff0000000000000))))"));
  EXPECT_EQ(h->hashes()[1], sha1Base64(R"(("a":("y":(number:4000000000000000))))"));
  EXPECT_EQ(h->hashes()[2], "");
}

TEST(CompoundHashTest, SizeSplitAndPriorities) {
  Value v = Value::object();
  const std::string text(100, 'x');
  for (int i = 0; i < 40; ++i) v["k" + std::to_string(i)] = text;
  FNodeRef big = node(v);
  // Estimated size ~ 40 * (3 + 4 + 102) + 1: threshold max(512, sqrt(100 * size)) = 660.
  const uint64_t size = FSnapshotUtilities::estimateSerializedNodeSize(big);
  const uint64_t threshold = std::max<uint64_t>(512, static_cast<uint64_t>(std::sqrt(100.0 * size)));
  auto h = FCompoundHash::fromNode(big);
  EXPECT_GT(h->posts().size(), 1u);
  EXPECT_EQ(h->posts().size() + 1, h->hashes().size());
  EXPECT_EQ(h->hashes().back(), "");
  // The first range: children in key order until the text passes the threshold after a leaf.
  std::vector<std::string> keys;
  for (int i = 0; i < 40; ++i) keys.push_back("k" + std::to_string(i));
  std::sort(keys.begin(), keys.end());
  std::string expected = "(";
  std::string lastKey;
  for (const auto& key : keys) {
    if (expected.size() > 1) expected += ",";
    expected += "\"" + key + "\":(string:\"" + text + "\"";
    if (expected.size() > threshold) {
      expected += "))";
      lastKey = key;
      break;
    }
    expected += ")";
  }
  EXPECT_EQ(h->posts()[0]->toString(), "/" + lastKey);
  EXPECT_EQ(h->hashes()[0], sha1Base64(expected));

  // A leaf reached through ".priority" never ends a range.
  auto alwaysSplit = FCompoundHash::simpleSizeSplitStrategyForNode(FEmptyNode::emptyNode());
  Value withPriority = Value::parse(R"({"a":{"z":1}})");
  withPriority["a"][".priority"] = std::string(600, 'p');
  auto p = FCompoundHash::fromNode(node(withPriority), alwaysSplit);
  ASSERT_EQ(p->posts().size(), 1u);
  EXPECT_EQ(p->posts()[0]->toString(), "/a/z");
}
