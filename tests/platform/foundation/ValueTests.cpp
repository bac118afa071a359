// JSON text from outside into Value: the nesting limit, and every walk of the deepest value the
// parser accepts (writing, comparing, copying, destroying) on the main thread and on a queue.
#include <gtest/gtest.h>

#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Value.h"

namespace {
std::string nestedArrays(size_t depth, const std::string& inner = "") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

std::string nestedObjects(size_t depth) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += "{\"k\":";
  text += "1";
  text += std::string(depth, '}');
  return text;
}

// Parses, writes, copies, compares and destroys a value of the given text; true when it all held.
bool walkEverything(const std::string& text) {
  auto parsed = value::parseJSON(text);
  if (!parsed) return false;
  const std::string written = value::toJSON(*parsed);
  const std::string pretty = value::toJSON(*parsed, true);
  Value copy = *parsed;
  auto again = value::parseJSON(written);
  return written == text && !pretty.empty() && again && *again == copy && copy == *parsed;
}
}  // namespace

TEST(JSONNesting, TheDeepestAcceptedValueSurvivesEveryWalkOnAnyThread) {
  static_assert(value::kMaxJSONDepth > 1010, "legal database values must parse");
  const std::string arrays = nestedArrays(value::kMaxJSONDepth);
  const std::string objects = nestedObjects(value::kMaxJSONDepth);
  EXPECT_TRUE(walkEverything(arrays));
  EXPECT_TRUE(walkEverything(objects));
  // Queue threads have stacks of their own size.
  bool onQueue = false;
  DispatchQueue::serial("test.json-depth")->sync([&] { onQueue = walkEverything(arrays) && walkEverything(objects); });
  EXPECT_TRUE(onQueue);
}

TEST(JSONNesting, DeeperTextIsRefusedWithAnError) {
  for (size_t depth : {value::kMaxJSONDepth + 1, size_t{60000}, size_t{1'000'000}}) {
    for (const std::string& text : {nestedArrays(depth), nestedObjects(depth)}) {
      std::string error;
      EXPECT_FALSE(value::parseJSON(text, true, &error)) << depth;
      EXPECT_NE(error.find("nest"), std::string::npos) << error;
      EXPECT_NE(error.find(std::to_string(value::kMaxJSONDepth)), std::string::npos) << error;
    }
  }
  // A truncated deep text is refused for its depth too, not parsed half-way.
  EXPECT_FALSE(value::parseJSON(std::string(100000, '[')));
  // Brackets inside strings are text, not nesting.
  const std::string quoted = "[\"" + std::string(5000, '[') + "\\\"" + std::string(5000, '{') + "\"]";
  auto inString = value::parseJSON(quoted);
  ASSERT_TRUE(inString);
  EXPECT_EQ((*inString)[0].get<std::string>().size(), 10001u);
}

TEST(JSONNesting, ParseErrorsNameThePlaceAndKindButNeverQuoteTheText) {
  const std::string secret = "s3cr3t-refresh-token";
  const std::pair<std::string, std::string> cases[] = {
      {"{\"refreshToken\":\"" + secret, secret},                // unterminated string
      {"{\"refreshToken\":\"" + secret + "\x01\"}", secret},  // control character
      {"{\"refreshToken\":" + secret + "}", "s3cr"},           // invalid literal
      {"{\"refreshToken\":\"" + secret + "\",}", secret},      // trailing comma
      {"[\"" + secret + "\\uD800\"]", secret},                 // lone surrogate
      {"[123456789e999999]", "123456789"},                      // number overflow
  };
  for (const auto& [text, hidden] : cases) {
    std::string error;
    EXPECT_FALSE(value::parseJSON(text, true, &error)) << text;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find(hidden), std::string::npos) << error;
    EXPECT_NE(error.find("byte"), std::string::npos) << error;
  }
}
