#include "sdk/database/core/FValidation.h"

#include <cmath>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FStringUtilities.h"

namespace {

constexpr std::string_view kInvalidPathCharacters = "[].#$";
constexpr std::string_view kInvalidKeyCharacters = "[].#$/";

std::string str(std::string_view s) { return std::string(s); }

bool isServerValueMap(const Value& value) {
  return value.is_object() && value.contains(".sv");
}

// Only the operations the server knows are accepted: a placeholder it cannot resolve would be
// refused by the server after the local copy had already shown it.
void validateServerValue(std::string_view from, const Value& op, const std::vector<std::string>& path) {
  if (op.is_string() && op.get_ref<const std::string&>() == "timestamp") return;
  if (op.is_object() && op.size() == 1 && op.contains("increment")) {
    const Value& delta = op.at("increment");
    const bool finiteNumber =
        delta.is_number_integer() || (delta.is_number_float() && std::isfinite(delta.get<double>()));
    if (finiteNumber) return;
    NSException::raise(kInvalidZirezizeData,
                       ns::format("(%s) Server value increment must be a number at path: %s.", str(from).c_str(),
                                  FValidation::joinedPath(path).c_str()));
  }
  NSException::raise(kInvalidZirezizeData,
                     ns::format("(%s) Unknown server value: %s at path: %s.", str(from).c_str(),
                                FValidation::describeValue(op).c_str(), FValidation::joinedPath(path).c_str()));
}

[[noreturn]] void pathTooDeep(const char* name, std::string_view from) {
  NSException::raise(name, ns::format("(%s) Max path depth exceeded: more than %u keys", str(from).c_str(),
                                      static_cast<unsigned>(FValidation::kMaxPathDepth)));
}

const char* typeLabel(const Value& v) {
  if (v.is_number_float() && std::isnan(v.get<double>())) return "NaN";
  return "Infinity";
}

}  // namespace

std::string FValidation::joinedPath(const std::vector<std::string>& path, size_t maxKeys) {
  std::string out;
  const size_t n = std::min(path.size(), maxKeys);
  for (size_t i = 0; i < n; ++i) {
    if (i) out += '.';
    out += path[i];
  }
  return out;
}

bool FValidation::valueDepthExceeds(const Value& value, size_t maxDepth) {
  // Iterative: the value may be nested deeper than any recursion could follow.
  struct Level {
    const Value* container;
    Value::const_iterator next;
  };
  if (!value.is_structured()) return false;
  if (maxDepth == 0) return true;
  std::vector<Level> stack{{&value, value.cbegin()}};
  while (!stack.empty()) {
    Level& top = stack.back();
    if (top.next == top.container->cend()) {
      stack.pop_back();
      continue;
    }
    const Value& child = *top.next;
    ++top.next;
    if (!child.is_structured()) continue;
    if (stack.size() >= maxDepth) return true;
    stack.push_back({&child, child.cbegin()});
  }
  return false;
}

bool FValidation::nodeDepthExceeds(const Value& value, size_t maxDepth) {
  // Iterative, like valueDepthExceeds, but counting the levels the node will have: a mapping that
  // holds ".value" or ".sv" is a leaf, and keys starting with "." are not children.
  auto isLeaf = [](const Value& v) { return !v.is_structured() || (v.is_object() && (v.contains(".value") || v.contains(".sv"))); };
  struct Level {
    const Value* container;
    Value::const_iterator next;
  };
  if (isLeaf(value)) return false;
  std::vector<Level> stack{{&value, value.cbegin()}};
  while (!stack.empty()) {
    Level& top = stack.back();
    if (top.next == top.container->cend()) {
      stack.pop_back();
      continue;
    }
    const Value::const_iterator at = top.next++;
    if (top.container->is_object() && !at.key().empty() && at.key()[0] == '.') continue;
    // The child sits stack.size() keys below the top.
    if (stack.size() > maxDepth) return true;
    if (!isLeaf(*at)) stack.push_back({&*at, at->cbegin()});
  }
  return false;
}

std::string FValidation::describeValue(const Value& value) {
  constexpr size_t kMaxShownDepth = 3;
  constexpr size_t kMaxShownBytes = 100;
  if (valueDepthExceeds(value, kMaxShownDepth)) return value.is_array() ? "[...]" : "{...}";
  std::string text = value::toJSON(value);
  if (text.size() > kMaxShownBytes) {
    size_t cut = kMaxShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    text = text.substr(0, cut) + "...";
  }
  return text;
}

bool FValidation::isValidPathString(std::string_view pathString) {
  return !pathString.empty() && pathString.find_first_of(kInvalidPathCharacters) == std::string_view::npos &&
         FStringUtilities::isValidUTF8(pathString);
}

bool FValidation::isValidKey(std::string_view key) {
  return !key.empty() && key.find_first_of(kInvalidKeyCharacters) == std::string_view::npos &&
         FStringUtilities::isValidUTF8(key);
}

bool FValidation::stringNonempty(const Value& object) {
  if (object.is_null()) return false;
  if (object.is_string()) return !object.get_ref<const std::string&>().empty();
  return true;
}

void FValidation::validateFromValidPathString(std::string_view from, std::string_view pathString) {
  if (!FStringUtilities::isValidUTF8(pathString)) {
    NSException::raise(kInvalidPathValidation, ns::format("(%s) Must be a valid UTF-8 string", str(from).c_str()));
  }
  if (!isValidPathString(pathString)) {
    NSException::raise(kInvalidPathValidation,
                       ns::format("(%s) Must be a non-empty string and not contain '.' '#' '$' '[' or ']'",
                                  str(from).c_str()));
  }
  if (pathKeyCount(pathString) > kMaxPathDepth) pathTooDeep(kInvalidPathValidation, from);
}

void FValidation::validateFromValidRootPathString(std::string_view from, std::string_view pathString) {
  // A leading ".info" segment, after any number of slashes and followed by "/" or the end, is
  // replaced by "/". Found by scanning, not by a pattern matcher: a matcher that backtracks by
  // recursion runs out of stack on a long run of slashes.
  std::string candidate(pathString);
  const size_t start = pathString.find_first_not_of('/');
  if (start != std::string_view::npos && pathString.compare(start, 5, ".info") == 0) {
    const size_t end = start + 5;
    if (end == pathString.size()) {
      candidate.assign(1, '/');
    } else if (pathString[end] == '/') {
      candidate.assign(1, '/').append(pathString.substr(end + 1));
    }
  }
  validateFromValidPathString(from, candidate);
}

void FValidation::validateFromValidURL(std::string_view from, std::string_view urlPath) {
  validateFromValidRootPathString(from, urlPath);
}

void FValidation::validateFromValidKey(std::string_view from, std::string_view key) {
  if (!FStringUtilities::isValidUTF8(key)) {
    NSException::raise(kInvalidKeyValidation, ns::format("(%s) Must be a valid UTF-8 string", str(from).c_str()));
  }
  if (!isValidKey(key)) {
    NSException::raise(
        kInvalidKeyValidation,
        ns::format("(%s) Must be a non-empty string and not contain '/' '.' '#' '$' '[' or ']'",
                   str(from).c_str()));
  }
}

void FValidation::validateFromValidPathDepth(std::string_view from, const FPath& path) {
  if (path.length() > kMaxPathDepth) pathTooDeep(kInvalidPathValidation, from);
}

void FValidation::validateFromWritablePath(std::string_view from, const FPath& path) {
  // A path made of many keys given one at a time is checked as a whole before anything is written.
  validateFromValidPathDepth(from, path);
  const auto front = path.getFront();
  if (front && *front == ".info") {
    NSException::raise(kWritablePathValidation,
                       ns::format("(%s) failed to path %s: Can't modify data under %s", str(from).c_str(),
                                  path.toString().c_str(), ".info"));
  }
}

void FValidation::validateFromWritableUpdate(std::string_view from, const FPath& path, const FCompoundWrite& update) {
  validateFromWritablePath(from, path);
  const uint64_t keys = path.length();
  update.enumerateWrites([&](const FPathRef& relative, const FNodeRef&, bool*) {
    if (keys + relative->length() > kMaxPathDepth) pathTooDeep(kInvalidPathValidation, from);
  });
}

uint64_t FValidation::pathKeyCount(std::string_view pathText, uint64_t limit) {
  uint64_t count = 0;
  bool inKey = false;
  for (char c : pathText) {
    if (c == '/') {
      inKey = false;
    } else if (!inKey) {
      inKey = true;
      if (++count > limit) break;
    }
  }
  return count;
}

void FValidation::validateFromKnownEventType(std::string_view from, int64_t eventType) {
  // Unsigned test: a negative type is out of range too.
  if (static_cast<uint64_t>(eventType) > 4) {
    NSException::raise(kKnownEventTypeValidation,
                       ns::format("(%s) Unknown event type: %lld", str(from).c_str(),
                                  static_cast<long long>(eventType)));
  }
}

void FValidation::validateToken(const std::optional<std::string>& token) {
  if (!token || token->empty()) {
    NSException::raise(NSInvalidArgumentException, "Can't have empty string or nil for custom token");
  }
}

bool FValidation::validateFromIsValidLeafValue(std::string_view from, const Value& value,
                                               const std::vector<std::string>& path) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    // The UTF-8 length is exact here; no upper-bound shortcut is needed.
    if (text.size() > kMaxStringBytes) {
      NSException::raise(kInvalidZirezizeData,
                         ns::format("(%s) String exceeds max size of %u utf8 bytes: %s", str(from).c_str(),
                                    static_cast<unsigned>(kMaxStringBytes), joinedPath(path).c_str()));
    }
    // Bytes that name no character would be stored, ordered and compared as replacement characters.
    if (!FStringUtilities::isValidUTF8(text)) {
      NSException::raise(kInvalidZirezizeData,
                         ns::format("(%s) Cannot store a string that is not valid UTF-8 at path: %s.",
                                    str(from).c_str(), joinedPath(path).c_str()));
    }
    return true;
  }
  if (value.is_boolean() || value.is_number_integer()) return true;
  if (value.is_number_float()) {
    const double d = value.get<double>();
    // Infinity has no JSON form either: refused like NaN rather than sent as null.
    if (!std::isfinite(d)) {
      NSException::raise(kInvalidZirezizeData,
                         ns::format("(%s) Cannot store %s at path: %s.", str(from).c_str(), typeLabel(value),
                                    joinedPath(path).c_str()));
    }
    return true;
  }
  if (value.is_object()) {
    if (!value.contains(".sv")) return false;
    if (value.size() >= 2) {
      NSException::raise(kInvalidZirezizeData,
                         ns::format("(%s) Cannot store other keys with server value keys.%s.", str(from).c_str(),
                                    joinedPath(path).c_str()));
    }
    validateServerValue(from, value.at(".sv"), path);
    return true;
  }
  return value.is_null();
}

std::string FValidation::parseAndValidateKey(const Value& key, std::string_view from,
                                             const std::vector<std::string>& path) {
  if (!key.is_string()) {
    NSException::raise(kInvalidZirezizeData,
                       ns::format("(%s) Non-string keys are not allowed in object at path: %s", str(from).c_str(),
                                  joinedPath(path).c_str()));
  }
  return key.get<std::string>();
}

void FValidation::validateFromValidDictionaryKey(std::string_view from, const Value& key,
                                                 const std::vector<std::string>& path) {
  const std::string k = parseAndValidateKey(key, from, path);
  if (k == ".priority" || k == ".value" || k == ".sv") return;
  if (!FStringUtilities::isValidUTF8(k)) {
    NSException::raise(kInvalidZirezizeData, ns::format("(%s) Invalid key in object at path: %s. Keys must be valid UTF-8",
                                                        str(from).c_str(), joinedPath(path).c_str()));
  }
  if (!isValidKey(k)) {
    NSException::raise(kInvalidZirezizeData,
                       ns::format("(%s) Invalid key in object at path: %s. Keys must be non-empty and cannot "
                                  "contain '/' '.' '#' '$' '[' or ']'",
                                  str(from).c_str(), joinedPath(path).c_str()));
  }
}

void FValidation::validateFromValidUpdateDictionaryKey(std::string_view from, const Value& key,
                                                       const Value& value) {
  const std::string k = parseAndValidateKey(key, from, {});
  if (!FStringUtilities::isValidUTF8(k)) {
    NSException::raise(kInvalidZirezizeData,
                       ns::format("(%s) Invalid key in object. Keys must be valid UTF-8", str(from).c_str()));
  }
  if (pathKeyCount(k) > kMaxPathDepth) pathTooDeep(kInvalidZirezizeData, from);
  const FPathRef path = FPath::pathWithString(k);
  const uint64_t length = path->length();
  uint64_t position = 0;
  FPathRef rest = path;
  while (auto front = rest->getFront()) {
    if (*front == ".priority" && position + 1 == length) {
      validateFromIsValidPriorityValue(from, value, {});
    } else {
      ++position;
      if (!isValidKey(*front)) {
        NSException::raise(kInvalidZirezizeData,
                           ns::format("(%s) Invalid key in object. Keys must be non-empty and cannot contain "
                                      "'.' '#' '$' '[' or ']'",
                                      str(from).c_str()));
      }
    }
    rest = rest->popFront();
  }
}

bool FValidation::validateFromIsValidPriorityValue(std::string_view from, const Value& value,
                                                   const std::vector<std::string>& path, bool throwError) {
  auto fail = [&](const char* fmt) -> bool {
    if (!throwError) return false;
    NSException::raise(kInvalidZirezizeData,
                       ns::format(fmt, str(from).c_str(), joinedPath(path).c_str()));
  };
  if (value.is_number_float() && std::isnan(value.get<double>())) {
    return fail("(%s) Cannot store NaN as priority at path: %s.");
  }
  if (value.is_number_float() && !std::isfinite(value.get<double>())) {
    return fail("(%s) Cannot store Infinity as priority at path: %s.");
  }
  if (value.is_boolean()) return fail("(%s) Cannot store true/false as priority at path: %s.");
  if (value.is_number()) return true;
  if (value.is_object()) {
    if (isServerValueMap(value)) {
      if (value.size() < 2) return true;
      return fail("(%s) Cannot store other keys with server value keys as priority at path: %s.");
    }
    return fail("(%s) Cannot store an NSDictionary as priority at path: %s.");
  }
  if (value.is_array()) return fail("(%s) Cannot store an NSArray as priority at path: %s.");
  return true;
}

bool FValidation::validatePriorityValue(const Value& value) {
  return validateFromIsValidPriorityValue("", value, {}, false);
}
