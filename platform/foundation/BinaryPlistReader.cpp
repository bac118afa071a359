#include "platform/foundation/BinaryPlistReader.h"

#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistBudget.h"
#include "platform/foundation/PlistValue.h"

namespace ns {

namespace {

// As the writers reckon a value (PlistBudget.h).
constexpr size_t kValueCost = kPlistValueCost;
const std::string kTooManyValues = "the property list expands to more than " + std::to_string(kMaxPlistValues) + " values";

class Reader {
 public:
  explicit Reader(std::string_view b) : b_(b) {}

  // Checks the header and the trailer; the objects are checked as they are read.
  bool open(std::string* error) {
    if (b_.size() < 8 + 32 || b_.substr(0, 6) != "bplist") return fail(error, "the binary property list is truncated");
    const size_t t = b_.size() - 32;
    offsetSize_ = static_cast<uint8_t>(b_[t + 6]);
    refSize_ = static_cast<uint8_t>(b_[t + 7]);
    count_ = be(t + 8, 8);
    top_ = be(t + 16, 8);
    tableOffset_ = be(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count_ == 0 || top_ >= count_ ||
        tableOffset_ < 8 || tableOffset_ > t || count_ > (t - tableOffset_) / offsetSize_)
      return fail(error, "the binary property list's trailer is damaged");
    inProgress_.assign(count_, false);
    countReferences();
    return true;
  }

  uint64_t top() const { return top_; }
  bool exhausted() const { return exhausted_; }

  // The object at `index` with everything it holds. A failure costs this read only, unless it
  // passed the limits: then every later read fails too.
  bool read(uint64_t index, Value& out, std::string* error) {
    if (exhausted_) return fail(error, exhaustedWhy_);
    why_.clear();
    if (!object(index, out, 0)) return fail(error, why_);
    return true;
  }

  // The references of the array, set or dictionary at `index`, checked to lie within the data but
  // not followed; the container counts as one value read.
  bool container(uint64_t index, BinaryPlistObjects::Container& out, std::string* error) {
    if (exhausted_) return fail(error, exhaustedWhy_);
    why_.clear();
    if (index >= count_) return fail(error, "a reference points outside the object table");
    if (!charge(kValueCost, 1)) return fail(error, why_);
    const uint64_t off = be(tableOffset_ + index * offsetSize_, offsetSize_);
    if (off < 8 || off >= limit()) return fail(error, "an object offset is out of range");
    size_t at = static_cast<size_t>(off);
    const uint8_t marker = static_cast<uint8_t>(b_[at++]);
    const uint8_t type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return fail(error, "the object is not an array or a dictionary");
    uint64_t len;
    if (!length(at, marker & 0x0F, len)) return fail(error, why_);
    const uint64_t refs = type == 0xD ? 2 * len : len;
    if (len > limit() || refs > (limit() - at) / refSize_) return fail(error, "a container runs past the end");
    out = BinaryPlistObjects::Container{type == 0xD, len, refs, at};
    return true;
  }

  uint64_t reference(const BinaryPlistObjects::Container& c, uint64_t i) const { return be(c.at + i * refSize_, refSize_); }

 private:
  bool fail(std::string* error, const std::string& what) {
    if (error) *error = what;
    return false;
  }
  bool bad(const char* what) {
    if (why_.empty()) why_ = what;
    return false;
  }

  uint64_t be(size_t at, size_t n) const {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(b_[at + i]);
    return v;
  }

  // Reads the length of a container or string whose marker's low nibble is 0xF: an int object follows.
  bool length(size_t& at, uint8_t info, uint64_t& len) {
    if (info != 0x0F) {
      len = info;
      return true;
    }
    if (at >= limit()) return bad("a length runs past the end");
    uint8_t marker = static_cast<uint8_t>(b_[at]);
    if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) return bad("a length is malformed");
    size_t n = size_t{1} << (marker & 0x0F);
    if (at + 1 + n > limit()) return bad("a length runs past the end");
    len = be(at + 1, n);
    at += 1 + n;
    return true;
  }

  size_t limit() const { return tableOffset_; }

  // Counts what the decoded value will take, in reckoned bytes and in values; false once either
  // total passes its limit.
  bool charge(uint64_t bytes, uint64_t values = 0) {
    if (values > valuesLeft_) return passedTheLimits(kTooManyValues);
    valuesLeft_ -= values;
    if (bytes > budget_) return passedTheLimits("the property list expands to more than its size limit");
    budget_ -= bytes;
    return true;
  }
  bool passedTheLimits(const std::string& why) {
    budget_ = valuesLeft_ = 0;
    exhausted_ = true;
    exhaustedWhy_ = why;
    why_ = why;  // whatever failed on the way, this is the reason
    return false;
  }

  // How many containers reference each object, so that an object referenced more than once is
  // decoded once and then copied. A damaged table is left for the decode to report.
  void countReferences() {
    references_.assign(count_, 0);
    for (uint64_t index = 0; index < count_; ++index) {
      const uint64_t off = be(tableOffset_ + index * offsetSize_, offsetSize_);
      if (off < 8 || off >= limit()) continue;
      size_t at = static_cast<size_t>(off);
      const uint8_t marker = static_cast<uint8_t>(b_[at++]);
      const uint8_t type = marker >> 4;
      if (type != 0xA && type != 0xC && type != 0xD) continue;
      uint64_t len;
      if (!length(at, marker & 0x0F, len)) {
        why_.clear();
        continue;
      }
      const uint64_t refs = type == 0xD ? 2 * len : len;
      if (len > limit() || refs > (limit() - at) / refSize_) continue;
      for (uint64_t i = 0; i < refs; ++i) {
        const uint64_t target = be(at + i * refSize_, refSize_);
        if (target < count_ && references_[target] < 2) ++references_[target];
      }
    }
  }

  bool object(uint64_t index, Value& out, int depth) {
    if (index >= count_) return bad("a reference points outside the object table");
    if (auto done = shared_.find(index); done != shared_.end()) {
      // Decoded before: the copy costs what the first decode did.
      if (!charge(done->second.bytes, done->second.values)) return false;
      out = done->second.value;
      return true;
    }
    const size_t budgetBefore = budget_, valuesBefore = valuesLeft_;
    if (!decode(index, out, depth)) return false;
    if (references_[index] > 1 && (out.is_array() || out.is_object() || out.is_string() || out.is_binary())) {
      shared_.emplace(index, Shared{out, budgetBefore - budget_, valuesBefore - valuesLeft_});
    }
    return true;
  }

  // Decodes the object at `index` (never decoded before) by the kind its marker's high nibble names.
  bool decode(uint64_t index, Value& out, int depth) {
    if (!charge(kValueCost, 1)) return false;
    const uint64_t off = be(tableOffset_ + index * offsetSize_, offsetSize_);
    if (off < 8 || off >= limit()) return bad("an object offset is out of range");
    size_t at = static_cast<size_t>(off);
    const uint8_t marker = static_cast<uint8_t>(b_[at++]);
    const uint8_t type = marker >> 4, info = marker & 0x0F;
    switch (type) {
      case 0x0:
        return simpleValue(info, out);
      case 0x1:
        return integer(at, info, out);
      case 0x2:
        return real(at, info, out);
      case 0x3:
        return date(at, info, out);
      case 0x4:
        return data(at, info, out);
      case 0x5:
        return asciiString(at, info, out);
      case 0x6:
        return utf16String(at, info, out);
      case 0x8:
        return uid(at, info, out);
      case 0xA:
      case 0xC:
      case 0xD:
        return container(index, type, at, info, out, depth);
      default:
        return bad("the property list holds a value of an unknown kind");
    }
  }

  bool simpleValue(uint8_t info, Value& out) {
    if (info == 0x8 || info == 0x9) {
      out = (info == 0x9);
      return true;
    }
    return bad("the property list holds null or an unknown simple value");
  }

  // 1-, 2- and 4-byte integers are unsigned, 8-byte ones signed; a 16-byte integer is how a value
  // above the signed range is written (its high half zero), or a negative one sign-extended. A
  // 16-byte integer beyond 64 bits has no value here and is refused rather than cut.
  bool integer(size_t at, uint8_t info, Value& out) {
    if (info > 4) return bad("an integer has an impossible size");
    size_t n = size_t{1} << info;
    if (at + n > limit()) return bad("an integer runs past the end");
    if (n < 16) {
      out = static_cast<int64_t>(be(at, n));  // below 2^32, or the 8 bytes of a signed value
      return true;
    }
    const uint64_t high = be(at, 8), low = be(at + 8, 8);
    const bool topBit = low >> 63;
    if (high == 0 && topBit) {
      out = Value(low);  // unsigned, above the signed range
    } else if ((high == 0 && !topBit) || (high == ~uint64_t{0} && topBit)) {
      out = Value(static_cast<int64_t>(low));
    } else {
      return bad("an integer does not fit in 64 bits");
    }
    return true;
  }

  bool real(size_t at, uint8_t info, Value& out) {
    if (info == 2) {
      if (at + 4 > limit()) return bad("a real runs past the end");
      uint32_t raw = static_cast<uint32_t>(be(at, 4));
      float f;
      std::memcpy(&f, &raw, 4);
      out = static_cast<double>(f);
      return true;
    }
    if (info == 3) {
      if (at + 8 > limit()) return bad("a real runs past the end");
      uint64_t raw = be(at, 8);
      double d;
      std::memcpy(&d, &raw, 8);
      out = d;
      return true;
    }
    return bad("a real has an impossible size");
  }

  bool date(size_t at, uint8_t info, Value& out) {
    if (info != 3 || at + 8 > limit()) return bad("a date is malformed");
    uint64_t raw = be(at, 8);
    double d;
    std::memcpy(&d, &raw, 8);
    out = value::dateSinceReferenceDate(d);  // held as stored, bit for bit
    return true;
  }

  bool data(size_t at, uint8_t info, Value& out) {
    uint64_t len;
    if (!length(at, info, len)) return false;
    if (len > limit() - at) return bad("data runs past the end");
    if (!charge(len)) return false;
    out = value::data(b_.substr(at, static_cast<size_t>(len)));
    return true;
  }

  // The one-byte string type holds one character per byte: ASCII as written by the platform, and
  // 8-bit text (bytes 0x80 to 0xFF) read as the Latin-1 characters they stand for, so that the
  // text is kept whole and comes back the same when it is written (as UTF-16) and read again.
  bool asciiString(size_t at, uint8_t info, Value& out) {
    uint64_t len;
    if (!length(at, info, len)) return false;
    if (len > limit() - at) return bad("a string runs past the end");
    if (!charge(len)) return false;
    const std::string_view bytes = b_.substr(at, static_cast<size_t>(len));
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) appendUTF8(text, static_cast<unsigned char>(c));
    if (!charge(text.size() - bytes.size())) return false;
    out = std::move(text);
    return true;
  }

  bool utf16String(size_t at, uint8_t info, Value& out) {
    uint64_t len;
    if (!length(at, info, len)) return false;
    if (len > (limit() - at) / 2) return bad("a string runs past the end");
    // A text is reckoned at its UTF-8 size, whichever string type holds it, as the writers reckon
    // it: every unit is at least one byte of it, the rest is counted once the text is known.
    if (!charge(len)) return false;
    std::u16string units(static_cast<size_t>(len), u'\0');
    for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(be(at + 2 * i, 2));
    // Half of a surrogate pair is no character: it could only be read as another one.
    for (size_t i = 0; i < units.size(); ++i) {
      const bool leading = units[i] >= 0xD800 && units[i] <= 0xDBFF;
      const bool trailing = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
      if (leading && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        ++i;
      } else if (leading || trailing) {
        return bad("a string holds half of a UTF-16 surrogate pair");
      }
    }
    std::string text = fromUTF16(units);
    if (text.size() > units.size() && !charge(text.size() - units.size())) return false;
    out = std::move(text);
    return true;
  }

  // A UID of 1 to 8 bytes; a longer one would not fit the 64 bits a UID is kept in.
  bool uid(size_t at, uint8_t info, Value& out) {
    size_t n = size_t{info} + 1;
    if (n > 8) return bad("a reference value is longer than 8 bytes");
    if (at + n > limit()) return bad("a reference value runs past the end");
    out = plistUID(be(at, n));
    return true;
  }

  // An array or set (0xA, 0xC) or a dictionary (0xD): `len` references, or `len` keys then `len`
  // values. The object is marked while its items decode, so that one containing itself is refused.
  bool container(uint64_t index, uint8_t type, size_t at, uint8_t info, Value& out, int depth) {
    uint64_t len;
    if (!length(at, info, len)) return false;
    const uint64_t refs = type == 0xD ? 2 * len : len;
    if (len > limit() || refs > (limit() - at) / refSize_) return bad("a container runs past the end");
    if (depth >= static_cast<int>(kMaxPlistDepth)) return bad("the property list nests too deeply");
    if (inProgress_[index]) return bad("a container contains itself");
    inProgress_[index] = true;
    const bool ok = type == 0xD ? dictionaryItems(at, len, out, depth) : arrayItems(at, len, out, depth);
    inProgress_[index] = false;
    return ok;
  }

  bool dictionaryItems(size_t at, uint64_t len, Value& out, int depth) {
    out = Value::object();
    auto& items = out.get_ref<Value::object_t&>();
    for (uint64_t i = 0; i < len; ++i) {
      Value key;
      if (!object(be(at + i * refSize_, refSize_), key, depth + 1)) return false;
      if (!key.is_string()) return bad("a dictionary key is not a string");
      // Two equal keys would merge into one and lose a value.
      auto [item, added] = items.try_emplace(std::move(key.get_ref<std::string&>()));
      if (!added) return bad("a dictionary holds one key twice");
      if (!object(be(at + (len + i) * refSize_, refSize_), item->second, depth + 1)) return false;
    }
    return true;
  }

  bool arrayItems(size_t at, uint64_t len, Value& out, int depth) {
    bool ok = true;
    out = Value::array();
    for (uint64_t i = 0; ok && i < len; ++i) {
      Value item;
      ok = object(be(at + i * refSize_, refSize_), item, depth + 1);
      if (ok) out.push_back(std::move(item));
    }
    return ok;
  }

  std::string_view b_;
  uint8_t offsetSize_ = 0, refSize_ = 0;
  uint64_t count_ = 0, top_ = 0, tableOffset_ = 0;
  std::vector<bool> inProgress_;
  std::vector<uint8_t> references_;  // 0, 1 or "2 and more" per object
  // Objects referenced more than once, as decoded, with what decoding them cost.
  struct Shared {
    Value value;
    size_t bytes;
    size_t values;
  };
  std::unordered_map<uint64_t, Shared> shared_;
  size_t budget_ = kMaxPlistDecodedBytes;
  size_t valuesLeft_ = kMaxPlistValues;
  bool exhausted_ = false;
  std::string exhaustedWhy_;
  std::string why_;
};

}  // namespace

std::optional<Value> readBinaryPlist(std::string_view bytes, std::string* error) {
  Reader reader(bytes);
  Value out;
  if (!reader.open(error) || !reader.read(reader.top(), out, error)) return std::nullopt;
  return out;
}

struct BinaryPlistObjects::Impl {
  explicit Impl(std::string_view bytes) : reader(bytes) {}
  Reader reader;
  // Objects whose read failed, with the reason: asked for again, they fail again at once.
  std::unordered_map<uint64_t, std::string> failed;
};

BinaryPlistObjects::BinaryPlistObjects(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
BinaryPlistObjects::~BinaryPlistObjects() = default;

std::unique_ptr<BinaryPlistObjects> BinaryPlistObjects::open(std::string_view bytes, std::string* error) {
  auto impl = std::make_unique<Impl>(bytes);
  if (!impl->reader.open(error)) return nullptr;
  return std::unique_ptr<BinaryPlistObjects>(new BinaryPlistObjects(std::move(impl)));
}

uint64_t BinaryPlistObjects::top() const { return impl_->reader.top(); }

bool BinaryPlistObjects::exhausted() const { return impl_->reader.exhausted(); }

std::optional<Value> BinaryPlistObjects::object(uint64_t index, std::string* error) {
  if (!impl_->failed.empty()) {
    if (auto known = impl_->failed.find(index); known != impl_->failed.end()) {
      if (error) *error = known->second;
      return std::nullopt;
    }
  }
  Value out;
  std::string why;
  if (impl_->reader.read(index, out, &why)) return out;
  impl_->failed.emplace(index, why);
  if (error) *error = std::move(why);
  return std::nullopt;
}

std::optional<BinaryPlistObjects::Container> BinaryPlistObjects::container(uint64_t index, std::string* error) {
  Container out;
  if (!impl_->reader.container(index, out, error)) return std::nullopt;
  return out;
}

uint64_t BinaryPlistObjects::reference(const Container& container, uint64_t i) const {
  return i < container.references ? impl_->reader.reference(container, i) : ~uint64_t{0};
}

}  // namespace ns
