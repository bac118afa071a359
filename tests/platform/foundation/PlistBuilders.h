#pragma once
// Property lists built byte by byte for tests: what a hostile or damaged file may hold.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/PlistValue.h"

namespace plist_test {

// A binary property list of the given encoded objects (object 0 is the top), with two-byte
// offsets and references.
inline std::string bplist(const std::vector<std::string>& objects, size_t top = 0) {
  std::string b = "bplist00";
  std::vector<size_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(b.size());
    b += o;
  }
  const size_t table = b.size();
  auto be = [&b](uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  for (size_t off : offsets) be(off, 2);
  b += std::string(6, '\0');
  b += '\x02';  // offset size
  b += '\x02';  // reference size
  be(objects.size(), 8);
  be(top, 8);
  be(table, 8);
  return b;
}

inline std::string ref(size_t i) { return {static_cast<char>(i >> 8), static_cast<char>(i & 0xFF)}; }

// The marker of a container or string of `count` items: in its low nibble, or 0xF and the count
// as a two- or four-byte integer object.
inline std::string marker(uint8_t type, size_t count) {
  if (count < 15) return std::string(1, static_cast<char>((type << 4) | count));
  std::string m(1, static_cast<char>((type << 4) | 0x0F));
  const int n = count <= 0xFFFF ? 2 : 4;
  m += static_cast<char>(n == 2 ? 0x11 : 0x12);
  for (int i = n - 1; i >= 0; --i) m += static_cast<char>((count >> (8 * i)) & 0xFF);
  return m;
}

// An array object `count` times referencing object `target`.
inline std::string arrayOf(size_t count, size_t target) {
  std::string a = marker(0xA, count);
  for (size_t k = 0; k < count; ++k) a += ref(target);
  return a;
}

// A one-byte string object of the given bytes (8-bit bytes stand for Latin-1 characters).
inline std::string oneByteString(const std::string& bytes) { return marker(0x5, bytes.size()) + bytes; }

// A UTF-16 string object of the given units.
inline std::string utf16String(const std::u16string& units) {
  std::string s = marker(0x6, units.size());
  for (char16_t u : units) {
    s += static_cast<char>(u >> 8);
    s += static_cast<char>(u & 0xFF);
  }
  return s;
}

// Arrays nested as `fanouts` says (the first holds the second that many times, and so on), the
// last holding the string object `leaf`: a small file whose one text is copied into every place.
inline std::string sharedLeaf(const std::vector<size_t>& fanouts, const std::string& leaf) {
  std::vector<std::string> objects;
  for (size_t i = 0; i < fanouts.size(); ++i) objects.push_back(arrayOf(fanouts[i], i + 1));
  objects.push_back(leaf);
  return bplist(objects);
}

// A binary list of one dictionary (fewer than 15 entries): keys[i] -> values[i], each an encoded
// object.
inline std::string dictionaryList(const std::vector<std::string>& keys, const std::vector<std::string>& values) {
  std::string dict(1, static_cast<char>(0xD0 | keys.size()));
  for (size_t i = 0; i < keys.size(); ++i) dict += ref(1 + i);
  for (size_t i = 0; i < values.size(); ++i) dict += ref(1 + keys.size() + i);
  std::vector<std::string> objects{dict};
  objects.insert(objects.end(), keys.begin(), keys.end());
  objects.insert(objects.end(), values.begin(), values.end());
  return bplist(objects);
}

// Arrays 0..depth-1, each holding the next one `fanout` times; the last holds a 1 KB string.
// Small on disk, astronomically large when every reference is expanded.
inline std::string referenceBomb(size_t depth, size_t fanout) {
  std::vector<std::string> objects;
  for (size_t i = 0; i < depth; ++i) {
    std::string a(1, static_cast<char>(0xA0 | fanout));
    for (size_t k = 0; k < fanout; ++k) a += ref(i + 1);
    objects.push_back(a);
  }
  objects.push_back(std::string("\x5F\x11\x04\x00", 4) + std::string(1024, 'x'));
  return bplist(objects);
}

// A dictionary whose one key names the first of a line of arrays: each holds the next as many
// times as `fanouts` says, the last holds the integer 7 that many times. A hundred-odd bytes that
// expand to the product of the fanouts equal integers.
inline std::string equalIntegers(const std::vector<size_t>& fanouts) {
  std::vector<std::string> objects = {std::string("\xD1", 1) + ref(1) + ref(2), "\x59" "equalizer"};
  for (size_t i = 0; i < fanouts.size(); ++i) {
    std::string a(1, static_cast<char>(0xA0 | fanouts[i]));
    for (size_t k = 0; k < fanouts[i]; ++k) a += ref(objects.size() + 1);
    objects.push_back(a);
  }
  objects.push_back("\x10\x07");
  return bplist(objects);
}

// One array that references a single integer `count` times (count below 2^32). The integer comes
// first so that both offsets fit in two bytes.
inline std::string flatArray(size_t count) {
  std::string a = "\xAF\x12";
  for (int i = 3; i >= 0; --i) a += static_cast<char>((count >> (8 * i)) & 0xFF);
  for (size_t k = 0; k < count; ++k) a += ref(0);
  return bplist({"\x10\x07", a}, 1);
}

// XML nested `depth` arrays deep inside the plist element.
inline std::string deepXML(size_t depth, const std::string& inside = "") {
  std::string x = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (size_t i = 0; i < depth; ++i) x += "<array>";
  x += inside;
  for (size_t i = 0; i < depth; ++i) x += "</array>";
  return x + "</plist>";
}

// The objects of a binary property list as far as telling which bytes belong to which object
// takes (a well-formed list, as the writer makes it): where each starts and ends, what it
// references, its UID or its ASCII text.
class BinaryObjects {
 public:
  explicit BinaryObjects(std::string_view b) : b_(b) {
    const size_t t = b.size() - 32;
    offsetSize_ = static_cast<uint8_t>(b[t + 6]);
    refSize_ = static_cast<uint8_t>(b[t + 7]);
    const uint64_t count = be(t + 8, 8);
    top_ = be(t + 16, 8);
    table_ = be(t + 24, 8);
    for (uint64_t i = 0; i < count; ++i) starts_.push_back(be(table_ + i * offsetSize_, offsetSize_));
    sorted_ = starts_;
    std::sort(sorted_.begin(), sorted_.end());
  }

  uint64_t top() const { return top_; }
  size_t count() const { return starts_.size(); }
  // The bytes of object i: from its start to the next object's (or the offset table).
  std::pair<size_t, size_t> range(uint64_t i) const {
    auto next = std::upper_bound(sorted_.begin(), sorted_.end(), starts_[i]);
    return {starts_[i], next == sorted_.end() ? table_ : *next};
  }
  // An array's items, or a dictionary's keys then values; none for other objects.
  std::vector<uint64_t> references(uint64_t i) const {
    std::vector<uint64_t> refs;
    const size_t at = referencesStart(i, refs);
    for (uint64_t k = 0; k < refs.size(); ++k) refs[k] = be(at + k * refSize_, refSize_);
    return refs;
  }
  // Where the bytes of reference k of container i stand, to damage it.
  size_t referenceOffset(uint64_t i, uint64_t k) const {
    std::vector<uint64_t> refs;
    return referencesStart(i, refs) + k * refSize_;
  }
  size_t referenceSize() const { return refSize_; }
  std::optional<uint64_t> uid(uint64_t i) const {
    const uint8_t marker = static_cast<uint8_t>(b_[starts_[i]]);
    if (marker >> 4 != 0x8) return std::nullopt;
    return be(starts_[i] + 1, (marker & 0x0F) + 1);
  }
  std::string text(uint64_t i) const {
    const uint8_t marker = static_cast<uint8_t>(b_[starts_[i]]);
    if (marker >> 4 != 0x5 || (marker & 0x0F) == 0x0F) return {};
    return std::string(b_.substr(starts_[i] + 1, marker & 0x0F));
  }
  // The value stored under the key in dictionary i.
  std::optional<uint64_t> valueFor(uint64_t i, const std::string& key) const {
    const auto refs = references(i);
    for (size_t k = 0; k < refs.size() / 2; ++k)
      if (text(refs[k]) == key) return refs[refs.size() / 2 + k];
    return std::nullopt;
  }

 private:
  // Where the references of container i start, `refs` sized to their number (none for other objects).
  size_t referencesStart(uint64_t i, std::vector<uint64_t>& refs) const {
    size_t at = starts_[i];
    const uint8_t marker = static_cast<uint8_t>(b_[at++]);
    if (marker >> 4 != 0xA && marker >> 4 != 0xD) return at;
    uint64_t n = marker & 0x0F;
    if (n == 0x0F) {
      const size_t bytes = size_t{1} << (static_cast<uint8_t>(b_[at]) & 0x0F);
      n = be(at + 1, bytes);
      at += 1 + bytes;
    }
    refs.resize(marker >> 4 == 0xD ? 2 * n : n);
    return at;
  }
  uint64_t be(size_t at, size_t n) const {
    uint64_t v = 0;
    for (size_t k = 0; k < n; ++k) v = (v << 8) | static_cast<uint8_t>(b_[at + k]);
    return v;
  }

  std::string_view b_;
  size_t offsetSize_, refSize_;
  uint64_t top_, table_;
  std::vector<uint64_t> starts_, sorted_;
};

// A keyed archive whose root object (of the class) names in `field` the first of `depth` lists,
// each listing the next one twice: a few kilobytes that would expand to 2^depth strings.
inline std::vector<uint8_t> keyedArchiveListBomb(const std::string& className, const std::string& field, int depth) {
  Value objects = Value::array({"$null"});
  objects.push_back({{"$class", ns::plistUID(2)}, {field, ns::plistUID(4)}});
  objects.push_back({{"$classname", className}, {"$classes", Value::array({className, "NSObject"})}});
  objects.push_back({{"$classname", "NSArray"}, {"$classes", Value::array({"NSArray", "NSObject"})}});
  for (int i = 0; i < depth; ++i) {
    const uint64_t next = 4 + i + 1;
    objects.push_back({{"NS.objects", Value::array({ns::plistUID(next), ns::plistUID(next)})},
                       {"$class", ns::plistUID(3)}});
  }
  objects.push_back("a leaf");
  const Value archive = {{"$archiver", "NSKeyedArchiver"},
                         {"$version", 100000},
                         {"$top", {{"root", ns::plistUID(1)}}},
                         {"$objects", objects}};
  const std::string bytes = ns::plistSerialize(archive, true).value_or("");
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace plist_test
