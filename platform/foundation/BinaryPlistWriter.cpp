#include "platform/foundation/BinaryPlistWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistBudget.h"
#include "platform/foundation/PlistValue.h"

namespace ns {

namespace {

void appendBigEndian(std::string& out, uint64_t v, size_t n) {
  for (size_t i = n; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The fewest bytes of 1, 2, 4 and 8 that hold v.
size_t bytesFor(uint64_t v) {
  if (v <= 0xFF) return 1;
  if (v <= 0xFFFF) return 2;
  if (v <= 0xFFFFFFFF) return 4;
  return 8;
}

uint8_t log2Of(size_t bytes) { return bytes == 1 ? 0 : bytes == 2 ? 1 : bytes == 4 ? 2 : 3; }

// A marker whose low nibble holds the count, or 0xF followed by the count as an integer object.
void appendMarker(std::string& out, uint8_t type, uint64_t count) {
  if (count < 15) {
    out += static_cast<char>((type << 4) | count);
    return;
  }
  out += static_cast<char>((type << 4) | 0x0F);
  const size_t n = bytesFor(count);
  out += static_cast<char>(0x10 | log2Of(n));
  appendBigEndian(out, count, n);
}

// Non-negative integers take the fewest bytes (1, 2 and 4 are read as unsigned), negative ones 8.
void appendInteger(std::string& out, int64_t v) {
  const size_t n = v < 0 ? 8 : bytesFor(static_cast<uint64_t>(v));
  out += static_cast<char>(0x10 | log2Of(n));
  appendBigEndian(out, static_cast<uint64_t>(v), n);
}

void appendDouble(std::string& out, uint8_t marker, double d) {
  uint64_t raw;
  std::memcpy(&raw, &d, 8);
  out += static_cast<char>(marker);
  appendBigEndian(out, raw, 8);
}

class Writer {
 public:
  explicit Writer(std::string* error) : error_(error) {}

  std::optional<std::string> run(const Value& root) {
    uint64_t top;
    if (!add(root, 0, top)) return std::nullopt;
    return serialise();
  }

 private:
  // One entry of the object table: a leaf's bytes, or a container's kind and references (a
  // dictionary's keys, then its values).
  struct Object {
    std::string leaf;
    uint8_t container = 0;  // 0xA an array, 0xD a dictionary, 0 a leaf
    std::vector<uint64_t> refs;
  };

  bool fail(const std::string& why) {
    if (error_) *error_ = why;
    return false;
  }

  // Adds the value (and all it holds) to the table; its index in `index`.
  bool add(const Value& v, size_t depth, uint64_t& index) {
    if (v.is_array() || v.is_object()) return addContainer(v, depth, index);
    std::string leaf;
    size_t payload = 0;  // what the reader reckons for the text or bytes
    switch (v.type()) {
      case Value::value_t::boolean:
        leaf = v.get<bool>() ? "\x09" : "\x08";
        break;
      case Value::value_t::number_integer:
        appendInteger(leaf, v.get<int64_t>());
        break;
      case Value::value_t::number_unsigned: {
        const uint64_t u = v.get<uint64_t>();
        if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
          appendInteger(leaf, static_cast<int64_t>(u));
        } else {
          leaf += '\x14';  // 16 bytes, the high half zero: unsigned
          appendBigEndian(leaf, 0, 8);
          appendBigEndian(leaf, u, 8);
        }
        break;
      }
      case Value::value_t::number_float:
        appendDouble(leaf, 0x23, v.get<double>());
        break;
      case Value::value_t::string:
        return addText(v.get_ref<const std::string&>(), index);
      case Value::value_t::binary:
        if (isPlistUID(v)) {
          const uint64_t uid = plistUIDValue(v);
          const size_t n = bytesFor(uid);
          leaf += static_cast<char>(0x80 | (n - 1));
          appendBigEndian(leaf, uid, n);
        } else if (value::isDate(v)) {
          appendDouble(leaf, 0x33, value::dateSecondsSinceReferenceDate(v));
        } else {
          const auto& bytes = v.get_binary();
          appendMarker(leaf, 0x4, bytes.size());
          leaf.append(bytes.begin(), bytes.end());
          payload = bytes.size();
        }
        break;
      default:
        return fail("a property list cannot hold null");
    }
    if (!budget_.charge(kPlistValueCost + payload, error_)) return false;
    index = addLeaf(std::move(leaf));
    return true;
  }

  bool addContainer(const Value& v, size_t depth, uint64_t& index) {
    if (depth >= kMaxPlistDepth) return fail("the value nests too deeply for a property list");
    if (!budget_.charge(kPlistValueCost, error_)) return false;
    index = objects_.size();
    objects_.emplace_back();  // filled in below: the table grows while the items are added
    std::vector<uint64_t> refs, values;
    for (auto it = v.begin(); it != v.end(); ++it) {
      uint64_t item;
      if (v.is_object()) {
        uint64_t key;
        if (!addText(it.key(), key)) return false;
        refs.push_back(key);
      }
      if (!add(it.value(), depth + 1, item)) return false;
      (v.is_object() ? values : refs).push_back(item);
    }
    refs.insert(refs.end(), values.begin(), values.end());
    objects_[index].container = v.is_object() ? 0xD : 0xA;
    objects_[index].refs = std::move(refs);
    return true;
  }

  // ASCII text (NUL characters included) as the one-byte string type, other text as UTF-16.
  bool appendText(const std::string& text, std::string& out) {
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
      appendMarker(out, 0x5, text.size());
      out += text;
      return true;
    }
    if (!isValidUTF8(text)) return fail("a text is not well-formed UTF-8");
    const std::u16string units = toUTF16(text);
    appendMarker(out, 0x6, units.size());
    for (char16_t unit : units) appendBigEndian(out, unit, 2);
    return true;
  }

  // A text (a value or a key) as a leaf, encoded once however often it stands in the value (the
  // map views the value's own texts, which outlive the write). It is reckoned at its UTF-8 size
  // whichever string type holds it, as the readers reckon what they read.
  bool addText(const std::string& text, uint64_t& index) {
    if (!budget_.charge(kPlistValueCost + text.size(), error_)) return false;
    if (auto known = texts_.find(text); known != texts_.end()) {
      index = known->second;
      return true;
    }
    std::string leaf;
    if (!appendText(text, leaf)) return false;
    index = addLeaf(std::move(leaf));
    texts_.emplace(text, index);
    return true;
  }

  // Equal leaves share one entry.
  uint64_t addLeaf(std::string bytes) {
    auto known = leaves_.find(bytes);
    if (known != leaves_.end()) return known->second;
    const uint64_t index = objects_.size();
    objects_.push_back(Object{bytes, 0, {}});
    leaves_.emplace(std::move(bytes), index);
    return index;
  }

  std::optional<std::string> serialise() {
    const uint64_t count = objects_.size();
    const size_t refSize = bytesFor(count - 1);
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    offsets.reserve(count);
    for (const auto& object : objects_) {
      if (out.size() > kMaxPlistBytes) break;
      offsets.push_back(out.size());
      if (!object.container) {
        out += object.leaf;
        continue;
      }
      const uint64_t n = object.container == 0xD ? object.refs.size() / 2 : object.refs.size();
      appendMarker(out, object.container, n);
      for (uint64_t ref : object.refs) appendBigEndian(out, ref, refSize);
    }
    const uint64_t tableOffset = out.size();
    const size_t offsetSize = bytesFor(offsets.back());  // the last object starts furthest in
    for (uint64_t offset : offsets) appendBigEndian(out, offset, offsetSize);
    out.append(6, '\0');
    out += static_cast<char>(offsetSize);
    out += static_cast<char>(refSize);
    appendBigEndian(out, count, 8);
    appendBigEndian(out, 0, 8);  // the top object is the first
    appendBigEndian(out, tableOffset, 8);
    if (out.size() > kMaxPlistBytes) {
      fail("the property list would take more than " + std::to_string(kMaxPlistBytes) + " bytes");
      return std::nullopt;
    }
    return out;
  }

  std::string* error_;
  PlistBudget budget_;
  std::vector<Object> objects_;
  std::unordered_map<std::string, uint64_t> leaves_;
  std::unordered_map<std::string_view, uint64_t> texts_;
};

}  // namespace

std::optional<std::string> writeBinaryPlist(const Value& v, std::string* error) { return Writer(error).run(v); }

}  // namespace ns
