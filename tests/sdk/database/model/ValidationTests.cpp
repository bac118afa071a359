#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

template <class F>
NSException raised(F&& f) {
  try {
    f();
  } catch (const NSException& e) {
    return e;
  }
  ADD_FAILURE() << "no exception";
  return NSException("", "");
}

}  // namespace

TEST(ValidationTest, PathsAndKeys) {
  EXPECT_FALSE(FValidation::isValidPathString(""));
  EXPECT_FALSE(FValidation::isValidKey(""));
  EXPECT_TRUE(FValidation::isValidPathString("a/b"));
  EXPECT_FALSE(FValidation::isValidKey("a/b"));
  for (const char* bad : {"a.b", "a#", "$a", "a[", "a]"}) {
    EXPECT_FALSE(FValidation::isValidPathString(bad)) << bad;
    EXPECT_FALSE(FValidation::isValidKey(bad)) << bad;
  }
  NSException e = raised([] { FValidation::validateFromValidPathString("child:", "a.b"); });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  EXPECT_EQ(e.reason(), "(child:) Must be a non-empty string and not contain '.' '#' '$' '[' or ']'");
  e = raised([] { FValidation::validateFromValidKey("queryEqualToValue:childKey:", "a/b"); });
  EXPECT_EQ(e.name(), "InvalidKeyValidation");
  EXPECT_EQ(e.reason(),
            "(queryEqualToValue:childKey:) Must be a non-empty string and not contain '/' '.' '#' '$' '[' or ']'");
}

TEST(ValidationTest, RootPathsAllowALeadingInfo) {
  EXPECT_NO_THROW(FValidation::validateFromValidRootPathString("f", ".info/connected"));
  EXPECT_NO_THROW(FValidation::validateFromValidRootPathString("f", "//.info"));
  EXPECT_THROW(FValidation::validateFromValidRootPathString("f", "a/.info"), NSException);
  EXPECT_THROW(FValidation::validateFromValidRootPathString("f", ".info/.info"), NSException);
  EXPECT_THROW(FValidation::validateFromValidURL("f", ".infox"), NSException);
}

TEST(ValidationTest, WritablePathsAndEventTypes) {
  NSException e = raised([] { FValidation::validateFromWritablePath("setValue:", *FPath::pathWithString(".info/x")); });
  EXPECT_EQ(e.name(), "WritablePathValidation");
  EXPECT_EQ(e.reason(), "(setValue:) failed to path /.info/x: Can't modify data under .info");
  EXPECT_NO_THROW(FValidation::validateFromWritablePath("f", *FPath::pathWithString("a/.info")));
  for (int64_t type : {int64_t{5}, int64_t{-1}}) {
    e = raised([&] { FValidation::validateFromKnownEventType("observeEventType:", type); });
    EXPECT_EQ(e.name(), "KnownEventTypeValidation");
    EXPECT_EQ(e.reason(), "(observeEventType:) Unknown event type: " + std::to_string(type));
  }
  EXPECT_NO_THROW(FValidation::validateFromKnownEventType("f", 4));
  e = raised([] { FValidation::validateToken(std::string()); });
  EXPECT_EQ(e.name(), "NSInvalidArgumentException");
  EXPECT_EQ(e.reason(), "Can't have empty string or nil for custom token");
  EXPECT_THROW(FValidation::validateToken(std::nullopt), NSException);
}

TEST(ValidationTest, LeafValues) {
  const std::string atLimit(FValidation::kMaxStringBytes, 'x');
  EXPECT_TRUE(FValidation::validateFromIsValidLeafValue("f", Value(atLimit), {}));
  NSException e = raised([&] { FValidation::validateFromIsValidLeafValue("f", Value(atLimit + "y"), {"a", "b"}); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), "(f) String exceeds max size of 10485760 utf8 bytes: a.b");
  e = raised([] { FValidation::validateFromIsValidLeafValue("f", Value(std::nan("")), {"a"}); });
  EXPECT_EQ(e.reason(), "(f) Cannot store NaN at path: a.");
  e = raised([] { FValidation::validateFromIsValidLeafValue("f", Value(-HUGE_VAL), {"a"}); });
  EXPECT_EQ(e.reason(), "(f) Cannot store Infinity at path: a.");
  EXPECT_FALSE(FValidation::validateFromIsValidLeafValue("f", Value::object(), {}));
  EXPECT_FALSE(FValidation::validateFromIsValidLeafValue("f", Value::array(), {}));
  EXPECT_TRUE(FValidation::validateFromIsValidLeafValue("f", Value(), {}));
  EXPECT_TRUE(FValidation::validateFromIsValidLeafValue("f", Value(true), {}));
  EXPECT_TRUE(FValidation::validateFromIsValidLeafValue("f", Value::parse(R"({".sv":"timestamp"})"), {}));
  e = raised([] { FValidation::validateFromIsValidLeafValue("f", Value::parse(R"({".sv":"timestamp","a":1})"), {"p"}); });
  EXPECT_EQ(e.reason(), "(f) Cannot store other keys with server value keys.p.");
}

TEST(ValidationTest, PathArraysShowFiftyKeys) {
  std::vector<std::string> keys;
  for (int i = 0; i < 60; ++i) keys.push_back("k" + std::to_string(i));
  NSException e = raised([&] { FValidation::validateFromIsValidLeafValue("f", Value(std::nan("")), keys); });
  EXPECT_EQ(e.reason().find("k50"), std::string::npos);
  EXPECT_NE(e.reason().find(".k49."), std::string::npos);
}

TEST(ValidationTest, DictionaryKeys) {
  EXPECT_NO_THROW(FValidation::validateFromValidDictionaryKey("f", Value(".priority"), {}));
  EXPECT_NO_THROW(FValidation::validateFromValidDictionaryKey("f", Value(".sv"), {}));
  NSException e = raised([] { FValidation::validateFromValidDictionaryKey("f", Value("a.b"), {"x", "y"}); });
  EXPECT_EQ(e.reason(), "(f) Invalid key in object at path: x.y. Keys must be non-empty and cannot contain '/' '.' "
                        "'#' '$' '[' or ']'");
  e = raised([] { FValidation::validateFromValidDictionaryKey("f", Value(3), {"x"}); });
  EXPECT_EQ(e.reason(), "(f) Non-string keys are not allowed in object at path: x");
}

TEST(ValidationTest, UpdateKeys) {
  // A trailing ".priority" validates the value as a priority.
  NSException e = raised([] { FValidation::validateFromValidUpdateDictionaryKey("update", Value("a/.priority"), Value(true)); });
  EXPECT_EQ(e.reason(), "(update) Cannot store true/false as priority at path: .");
  EXPECT_NO_THROW(FValidation::validateFromValidUpdateDictionaryKey("update", Value("a/.priority"), Value(1)));
  e = raised([] { FValidation::validateFromValidUpdateDictionaryKey("update", Value("a/.priority/b"), Value(1)); });
  EXPECT_EQ(e.reason(), "(update) Invalid key in object. Keys must be non-empty and cannot contain '.' '#' '$' '[' or ']'");
  EXPECT_NO_THROW(FValidation::validateFromValidUpdateDictionaryKey("update", Value("/a//b/"), Value::object()));
}

TEST(ValidationTest, Priorities) {
  struct Case {
    Value value;
    const char* reason;
  };
  const std::vector<Case> refused{
      {Value(true), "(f) Cannot store true/false as priority at path: a."},
      {Value(false), "(f) Cannot store true/false as priority at path: a."},
      {Value(std::nan("")), "(f) Cannot store NaN as priority at path: a."},
      {Value(HUGE_VAL), "(f) Cannot store Infinity as priority at path: a."},
      {Value::parse(R"({".sv":"timestamp","x":1})"),
       "(f) Cannot store other keys with server value keys as priority at path: a."},
      {Value::parse(R"({"x":1})"), "(f) Cannot store an NSDictionary as priority at path: a."},
      {Value::parse("[1]"), "(f) Cannot store an NSArray as priority at path: a."},
  };
  for (const auto& c : refused) {
    NSException e = raised([&] { FValidation::validateFromIsValidPriorityValue("f", c.value, {"a"}); });
    EXPECT_EQ(e.name(), "InvalidZirezizeData");
    EXPECT_EQ(e.reason(), c.reason);
    EXPECT_FALSE(FValidation::validatePriorityValue(c.value));
  }
  for (const Value& ok : {Value(1), Value("a"), Value(), Value(2.5), Value::parse(R"({".sv":"timestamp"})")}) {
    EXPECT_TRUE(FValidation::validateFromIsValidPriorityValue("f", ok, {}));
    EXPECT_TRUE(FValidation::validatePriorityValue(ok));
  }
}

TEST(ValidationTest, LongRunsOfSlashesBeforeInfo) {
  // The leading ".info" segment is recognised in one pass, however many slashes come before it.
  const std::string slashes(30000, '/');
  EXPECT_NO_THROW(FValidation::validateFromValidRootPathString("f", slashes + ".info/x"));
  EXPECT_NO_THROW(FValidation::validateFromValidRootPathString("f", slashes + ".info"));
  EXPECT_NO_THROW(FValidation::validateFromValidRootPathString("f", "/.info/"));
  EXPECT_THROW(FValidation::validateFromValidRootPathString("f", slashes + ".infox"), NSException);
  EXPECT_THROW(FValidation::validateFromValidRootPathString("f", slashes + "a/.info"), NSException);
  EXPECT_THROW(FValidation::validateFromValidRootPathString("f", "/.info/x/.info"), NSException);
  EXPECT_THROW(FValidation::validateFromValidRootPathString("f", "x.info"), NSException);
}

TEST(ValidationTest, PathsDeeperThanValuesAreRefused) {
  std::string deepest;
  for (int i = 0; i < 1000; ++i) deepest += "/k";
  EXPECT_NO_THROW(FValidation::validateFromValidPathString("child:", deepest));
  EXPECT_NO_THROW(FValidation::validateFromValidRootPathString("child:", ".info" + deepest));
  EXPECT_NO_THROW(FValidation::validateFromWritablePath("setValue:", *FPath::pathWithString(deepest)));
  EXPECT_NO_THROW(FValidation::validateFromValidUpdateDictionaryKey("updateChildValues:", Value(deepest), Value(1)));

  const std::string tooDeep = deepest + "/k";
  NSException e = raised([&] { FValidation::validateFromValidPathString("child:", tooDeep); });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  EXPECT_EQ(e.reason(), "(child:) Max path depth exceeded: more than 1000 keys");
  e = raised([&] { FValidation::validateFromValidRootPathString("referenceWithPath:", tooDeep); });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  EXPECT_EQ(e.reason(), "(referenceWithPath:) Max path depth exceeded: more than 1000 keys");
  // A path built by many calls of one key each is checked as a whole before a write.
  e = raised([&] { FValidation::validateFromWritablePath("setValue:", *FPath::pathWithString(tooDeep)); });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  EXPECT_EQ(e.reason(), "(setValue:) Max path depth exceeded: more than 1000 keys");
  EXPECT_NO_THROW(FValidation::validateFromValidPathDepth("child:", *FPath::pathWithString(deepest)));
  e = raised([&] { FValidation::validateFromValidPathDepth("child:", *FPath::pathWithString(tooDeep)); });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  EXPECT_EQ(e.reason(), "(child:) Max path depth exceeded: more than 1000 keys");
  e = raised([&] { FValidation::validateFromValidUpdateDictionaryKey("updateChildValues:", Value(tooDeep), Value(1)); });
  EXPECT_EQ(e.name(), "InvalidZirezizeData");
  EXPECT_EQ(e.reason(), "(updateChildValues:) Max path depth exceeded: more than 1000 keys");
}

namespace {

std::string keys(size_t count, const char* top = "") {
  std::string text = top;
  for (size_t i = 0; i < count; ++i) text += (i || *top) ? "/k" : "k";
  return text;
}

}  // namespace

TEST(ValidationTest, AnUpdatesEntriesAreCheckedWhereTheyAreWritten) {
  // Each half is within the limit; joined they may not be, and walks along the joined path take a
  // call per key.
  const FPathRef location = FPath::pathWithString(keys(600));
  auto update = [](const std::string& key) {
    return FSnapshotUtilities::compoundWriteFromDictionary(Value{{"a", 1}, {key, 2}}, "updateChildValues:");
  };
  EXPECT_NO_THROW(FValidation::validateFromWritableUpdate("updateChildValues:", *location, *update(keys(400))));
  NSException e = raised([&] {
    FValidation::validateFromWritableUpdate("updateChildValues:", *location, *update(keys(401)));
  });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  EXPECT_EQ(e.reason(), "(updateChildValues:) Max path depth exceeded: more than 1000 keys");
  // The location itself as any written path.
  e = raised([&] {
    FValidation::validateFromWritableUpdate("updateChildValues:", *FPath::pathWithString(keys(1001)), *update("b"));
  });
  EXPECT_EQ(e.name(), "InvalidPathValidation");
  e = raised([&] {
    FValidation::validateFromWritableUpdate("updateChildValues:", *FPath::pathWithString(".info/x"), *update("b"));
  });
  EXPECT_EQ(e.name(), "WritablePathValidation");
  EXPECT_NO_THROW(FValidation::validateFromWritableUpdate("updateChildValues:", *FPath::empty(), *update(keys(1000))));
}

TEST(ValidationTest, PathKeysAreCountedAsPathsReadThemUpToOnePastTheLimit) {
  EXPECT_EQ(FValidation::pathKeyCount(""), 0u);
  EXPECT_EQ(FValidation::pathKeyCount("///"), 0u);
  EXPECT_EQ(FValidation::pathKeyCount("//a///b/"), 2u);
  EXPECT_EQ(FValidation::pathKeyCount(keys(5000)), FValidation::kMaxPathDepth + 1);
  EXPECT_EQ(FValidation::pathKeyCount(keys(5000), 5000), 5000u);
  EXPECT_EQ(FValidation::pathKeyCount(keys(7), 3), 4u);
}

TEST(ValidationTest, NodeDepthCountsTheLevelsTheConvertedNodeHas) {
  auto nested = [](size_t levels, Value leaf, bool arrays = false) {
    for (size_t i = 0; i < levels; ++i) leaf = arrays ? Value::array({std::move(leaf)}) : Value{{"a", std::move(leaf)}};
    return leaf;
  };
  const size_t limit = static_cast<size_t>(FSnapshotUtilities::kMaxDepth);
  struct Case {
    const char* name;
    Value value;
  };
  // Right at the limit and one past it, for each form a level can take; the answer must be the
  // conversion's own.
  const std::vector<Case> cases{
      {"leaf at the limit", nested(limit, 1)},
      {"leaf past the limit", nested(limit + 1, 1)},
      {"arrays at the limit", nested(limit, 1, true)},
      {"arrays past the limit", nested(limit + 1, 1, true)},
      {"leaf with a priority at the limit", nested(limit, Value{{".value", 1}, {".priority", 2}})},
      {"placeholder at the limit", nested(limit, Value{{".sv", "timestamp"}})},
      {"null child past the limit", nested(limit, Value{{"x", nullptr}})},
      {"empty mapping at the limit", nested(limit, Value::object())},
      {"priority of an interior node at the limit", nested(limit - 1, Value{{"b", 1}, {".priority", 2}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool converts = true;
    try {
      (void)FSnapshotUtilities::nodeFrom(c.value);
    } catch (const NSException&) {
      converts = false;
    }
    EXPECT_EQ(FValidation::nodeDepthExceeds(c.value, limit), !converts);
  }
  EXPECT_FALSE(FValidation::nodeDepthExceeds(Value(1), 0));
  EXPECT_TRUE(FValidation::nodeDepthExceeds(Value{{"a", 1}}, 0));
  EXPECT_FALSE(FValidation::nodeDepthExceeds(Value{{"a", 1}}, 1));
  // Keys starting with "." are not children, and a ".value" mapping is a leaf whatever else it holds.
  EXPECT_FALSE(FValidation::nodeDepthExceeds(Value{{".priority", nested(5000, 1)}}, 1));
  EXPECT_FALSE(FValidation::nodeDepthExceeds(Value{{".value", 1}, {"a", nested(5000, 1)}}, 0));
  // Any depth is asked about without recursion.
  EXPECT_TRUE(FValidation::nodeDepthExceeds(nested(100000, 1, true), limit));
}

TEST(ValidationTest, TextsMustBeValidUTF8) {
  // A lone byte above 0x7F, a truncated sequence, an overlong "/", a surrogate, a code point above
  // U+10FFFF: none of them names a character, and two of them would read alike.
  for (const std::string& bad : std::vector<std::string>{"\xff", "a\xfe", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(FValidation::isValidKey(bad));
    EXPECT_FALSE(FValidation::isValidPathString(bad));
    NSException e = raised([&] { FValidation::validateFromValidKey("child:", bad); });
    EXPECT_EQ(e.name(), "InvalidKeyValidation");
    EXPECT_EQ(e.reason(), "(child:) Must be a valid UTF-8 string");
    e = raised([&] { FValidation::validateFromValidPathString("child:", "a/" + bad); });
    EXPECT_EQ(e.name(), "InvalidPathValidation");
    EXPECT_EQ(e.reason(), "(child:) Must be a valid UTF-8 string");
    e = raised([&] { FValidation::validateFromValidRootPathString("referenceWithPath:", ".info/" + bad); });
    EXPECT_EQ(e.name(), "InvalidPathValidation");
    e = raised([&] { FValidation::validateFromValidDictionaryKey("setValue:", Value(bad), {"x"}); });
    EXPECT_EQ(e.name(), "InvalidZirezizeData");
    EXPECT_EQ(e.reason(), "(setValue:) Invalid key in object at path: x. Keys must be valid UTF-8");
    e = raised([&] { FValidation::validateFromValidUpdateDictionaryKey("updateChildValues:", Value("a/" + bad), Value(1)); });
    EXPECT_EQ(e.name(), "InvalidZirezizeData");
    EXPECT_EQ(e.reason(), "(updateChildValues:) Invalid key in object. Keys must be valid UTF-8");
    e = raised([&] { FValidation::validateFromIsValidLeafValue("setValue:", Value("ok" + bad), {"x", "y"}); });
    EXPECT_EQ(e.name(), "InvalidZirezizeData");
    EXPECT_EQ(e.reason(), "(setValue:) Cannot store a string that is not valid UTF-8 at path: x.y.");
  }
  // Characters of every length, the replacement character itself, and NUL are text.
  for (const std::string& good : std::vector<std::string>{"é", "日本", "😀", "\xef\xbf\xbd", std::string("a\0b", 3)}) {
    EXPECT_TRUE(FValidation::isValidKey(good));
    EXPECT_TRUE(FValidation::isValidPathString(good));
    EXPECT_TRUE(FValidation::validateFromIsValidLeafValue("f", Value(good), {}));
    EXPECT_NO_THROW(FValidation::validateFromValidDictionaryKey("f", Value(good), {}));
  }
}
