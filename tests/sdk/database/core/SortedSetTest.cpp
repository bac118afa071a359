#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FImmutableSortedSet.h"
#include "sdk/database/core/FTransformedEnumerator.h"
#include "sdk/database/core/FUtilities.h"

namespace {
using Set = FImmutableSortedSet<std::string>;
Set::Ref emptySet() {
  return std::make_shared<const Set>(
      Set::Dictionary::dictionaryWithComparator(FUtilities::keyComparator()));
}
}  // namespace

TEST(SortedSet, AddRemoveAndIdentity) {
  auto s = emptySet()->addObject("b")->addObject("a");
  EXPECT_EQ(s->count(), 2u);
  auto again = s->addObject("a");
  EXPECT_NE(again, s);
  EXPECT_EQ(again->count(), 2u);
  EXPECT_EQ(s->removeObject("zz"), s);
  auto removed = s->removeObject("a");
  EXPECT_EQ(removed->count(), 1u);
  EXPECT_TRUE(s->containsObject("a"));
  EXPECT_FALSE(removed->contains("a"));
}

TEST(SortedSet, EmptySetAndDescriptions) {
  auto s = emptySet();
  EXPECT_TRUE(s->isEmpty());
  EXPECT_FALSE(s->firstObject().has_value());
  EXPECT_FALSE(s->lastObject().has_value());
  EXPECT_EQ(s->description(), "FImmutableSortedSet (  )");
  EXPECT_EQ(s->addObject("b")->addObject("a")->description(), "FImmutableSortedSet ( a, b )");
}

TEST(SortedSet, GrowsIntoTreeWithoutVisibleChange) {
  auto s = emptySet();
  for (int i = 0; i < 26; ++i) s = s->addObject(std::to_string(i));
  using TreeForm = FTreeSortedDictionary<std::string, FSetPlaceholder>;
  EXPECT_TRUE(dynamic_cast<const TreeForm*>(s->dictionary().get()));
  EXPECT_EQ(s->count(), 26u);
  EXPECT_EQ(*s->firstObject(), "0");
  EXPECT_EQ(*s->lastObject(), "25");  // numeric key order
  EXPECT_EQ(*s->predecessorEntry("10"), "9");
  EXPECT_FALSE(s->predecessorEntry("0").has_value());
  EXPECT_THROW(s->predecessorEntry("x"), NSException);
  std::vector<std::string> reversed;
  s->enumerateObjectsReverse(true, [&](const std::string& m, bool* stop) {
    reversed.push_back(m);
    if (reversed.size() == 2) *stop = true;
  });
  EXPECT_EQ(reversed, (std::vector<std::string>{"25", "24"}));
}

TEST(SortedSet, FromDictionaryKeepsKeysAndValues) {
  std::map<std::string, int> m{{"x", 1}, {"2", 2}, {"10", 3}};
  auto s = FImmutableSortedSet<std::string, int>::setWithKeysFromDictionary(m, FUtilities::keyComparator());
  std::vector<std::string> members;
  auto e = s->objectEnumerator();
  while (auto m2 = e->nextObject()) members.push_back(*m2);
  EXPECT_EQ(members, (std::vector<std::string>{"2", "10", "x"}));
  EXPECT_EQ(*s->dictionary()->get("10"), 3);
}

TEST(TransformedEnumerator, TransformsAndStopsWithoutCallingAtTheEnd) {
  int calls = 0;
  auto empty = emptySet()->objectEnumerator();
  FTransformedEnumerator<std::string, size_t> none(empty, [&](const std::string& s) {
    ++calls;
    return s.size();
  });
  EXPECT_FALSE(none.nextObject().has_value());
  EXPECT_EQ(calls, 0);
  auto s = emptySet()->addObject("abc")->addObject("z");
  FTransformedEnumerator<std::string, size_t> sizes(s->objectEnumerator(), [&](const std::string& m) {
    ++calls;
    return m.size();
  });
  EXPECT_EQ(*sizes.nextObject(), 3u);
  EXPECT_EQ(*sizes.nextObject(), 1u);
  EXPECT_FALSE(sizes.nextObject().has_value());
  EXPECT_EQ(calls, 2);
}
