#include "sdk/database/persistence/FLevelDBRecordFormat.h"

#include <cinttypes>
#include <cstdio>

#include "platform/foundation/NSString.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/core/FWriteRecord.h"

namespace fleveldb {

std::string hex16(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

std::optional<uint64_t> parseHex16(std::string_view text) {
  if (text.size() != 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return value;
}

std::optional<int64_t> idForMovedWrite(int64_t id, std::optional<int64_t> lastId,
                                       const std::function<bool(int64_t)>& taken) {
  if ((!lastId || id > *lastId) && !taken(id)) return id;
  // Counting starts inside the range a restore takes, and skips ids a record holds: one that
  // could neither be read nor set aside keeps its bytes. Each id skipped is a record of the store.
  int64_t next = lastId.value_or(FWriteRecord::kMinStoredWriteId - 1);
  do {
    if (next >= FWriteRecord::kMaxStoredWriteId) return std::nullopt;
    ++next;
  } while (taken(next));
  return next;
}

std::string serverKey(const FPath& path) { return kServerPrefix + path.toStringWithTrailingSlash(true); }

std::string queryKey(uint64_t queryId) { return kQueryPrefix + hex16(queryId); }

std::string keysPrefix(uint64_t queryId) { return kKeysPrefix + hex16(queryId) + ":"; }

std::string prefixEnd(const std::string& prefix) {
  std::string end = prefix;
  while (!end.empty()) {
    auto last = static_cast<unsigned char>(end.back());
    if (last < 0xFF) {
      end.back() = static_cast<char>(last + 1);
      return end;
    }
    end.pop_back();
  }
  return end;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> keysOfServerKey(const std::string& key) {
  std::vector<std::string> keys;
  for (std::string& piece : ns::split(std::string_view(key).substr(2), "/")) {
    if (!piece.empty()) keys.push_back(std::move(piece));
  }
  return keys;
}

FPathRef pathOfKeys(std::vector<std::string> keys) {
  return std::make_shared<const FPath>(std::make_shared<const std::vector<std::string>>(std::move(keys)), 0);
}

std::string shown(const std::string& text) {
  constexpr size_t kMaxShownBytes = 200;
  if (text.size() <= kMaxShownBytes) return text;
  size_t cut = kMaxShownBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

const std::string& tooManyKeys() {
  static const std::string text =
      ns::format("its path has more than %u keys", static_cast<unsigned>(FValidation::kMaxPathDepth));
  return text;
}

}  // namespace fleveldb
