#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FUtilities.h"

namespace {
FPathRef P(const char* text) { return FPath::pathWithString(text); }
}  // namespace

TEST(PathParsing, SlashesAndEmptyPieces) {
  for (const char* root : {"", "/", "///"}) {
    EXPECT_TRUE(P(root)->isEmpty()) << root;
    EXPECT_EQ(P(root)->length(), 0u);
  }
  auto p = P("a//b/");
  EXPECT_EQ(p->keys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(*p->getFront(), "a");
  EXPECT_EQ(*p->getBack(), "b");
  EXPECT_EQ(FPath::empty(), FPath::empty());
}

TEST(PathParsing, RootForms) {
  auto root = FPath::empty();
  EXPECT_EQ(root->toString(), "/");
  EXPECT_EQ(root->toStringWithTrailingSlash(), "/");
  EXPECT_EQ(root->toStringWithTrailingSlash(false), "/");
  EXPECT_EQ(root->wireFormat(), "/");
  EXPECT_EQ(root->parent(), nullptr);
  EXPECT_TRUE(root->popFront()->isEmpty());
  EXPECT_FALSE(root->getFront().has_value());
  EXPECT_FALSE(root->getBack().has_value());
  EXPECT_EQ(root->hash(), 0u);
}

TEST(PathParsing, TextForms) {
  auto p = P("a/b");
  EXPECT_EQ(p->toString(), "/a/b");
  EXPECT_EQ(p->description(), "/a/b");
  EXPECT_EQ(p->toStringWithTrailingSlash(), "/a/b/");
  EXPECT_EQ(p->toStringWithTrailingSlash(false), "/a/b");
  EXPECT_EQ(p->wireFormat(), "a/b");
  EXPECT_EQ(P("a")->wireFormat(), "a");
}

TEST(PathDerivation, PopFrontSharesKeys) {
  auto p = P("/a/b");
  auto rest = p->popFront();
  EXPECT_EQ(rest->pieceNum(), 1);
  EXPECT_EQ(rest->pieces(), p->pieces());
  EXPECT_TRUE(rest->isEqual(*P("b")));
  EXPECT_EQ(rest->hash(), P("b")->hash());
  EXPECT_EQ(rest->toString(), "/b");
  EXPECT_EQ(rest->wireFormat(), "b");
  EXPECT_EQ(rest->parent()->toString(), "/");
  EXPECT_TRUE(rest->popFront()->isEmpty());
  // A path made on the stack still answers popFront of its root.
  FPath stackRoot("");
  EXPECT_TRUE(stackRoot.popFront()->isEmpty());
}

TEST(PathDerivation, ChildrenParentsAndRelativePaths) {
  EXPECT_EQ(P("/a")->childFromString("c/d")->toString(), "/a/c/d");
  for (const char* text : {"a/b", "/a//b/", "a/b/"}) EXPECT_EQ(P("x")->childFromString(text)->toString(), "/x/a/b");
  EXPECT_EQ(P("x")->childFromString("")->toString(), "/x");
  EXPECT_EQ(P("x")->childFromString("/")->toString(), "/x");
  EXPECT_EQ(P("a/b")->popFront()->child(*P("c")->popFront())->toString(), "/b");
  EXPECT_EQ(P("a/b/c")->parent()->toString(), "/a/b");
  EXPECT_EQ(FPath::relativePathFrom(*P("/a"), *P("/a/b/c"))->toString(), "/b/c");
  EXPECT_EQ(FPath::relativePathFrom(*FPath::empty(), *P("/x/y"))->toString(), "/x/y");
  EXPECT_TRUE(FPath::relativePathFrom(*P("/a/b"), *P("/a/b"))->isEmpty());
  try {
    FPath::relativePathFrom(*P("/a"), *P("/b"));
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "ZirezizeDatabaseInternalError");
    EXPECT_EQ(e.reason(), "innerPath (/b) is not within outerPath (/a)");
  }
  EXPECT_THROW(FPath::relativePathFrom(*P("/a/b"), *P("/a")), NSException);
}

TEST(PathOrder, ContainmentAndEquality) {
  EXPECT_TRUE(P("/a")->contains(*P("/a")));
  EXPECT_TRUE(P("/a")->contains(*P("/a/b")));
  EXPECT_FALSE(P("/a/b")->contains(*P("/a")));
  EXPECT_FALSE(P("/a")->contains(*P("/ab")));
  EXPECT_TRUE(FPath::empty()->contains(*P("/q/r")));
  EXPECT_TRUE(P("/x/a")->popFront()->contains(*P("/a/b")));
  EXPECT_FALSE(P("/a/b")->isEqual(*P("/a")));
  EXPECT_FALSE(P("/a/b")->isEqual(*P("/a/c")));
  EXPECT_NE(P("/a/b")->hash(), P("/b/a")->hash());
}

TEST(PathOrder, ChildKeyOrderThenLength) {
  std::vector<FPathRef> paths = {P("/a"), P("/10"), P("/b"), P("/2"), P("/a/b"), P("/"), P("/-0"), P("/00")};
  std::sort(paths.begin(), paths.end(), [](const FPathRef& x, const FPathRef& y) { return x->compare(*y) < 0; });
  std::vector<std::string> texts;
  for (const auto& p : paths) texts.push_back(p->toString());
  EXPECT_EQ(texts, (std::vector<std::string>{"/", "/-0", "/00", "/2", "/10", "/a", "/a/b", "/b"}));
  EXPECT_EQ(P("/a/b")->compare(*P("/a/b")), 0);
  EXPECT_EQ(P("/a/b")->compare(*P("/a")), 1);
  // "-0" and "00" are different keys, so different paths never compare as the same.
  EXPECT_NE(P("/-0")->compare(*P("/00")), 0);
}
