#pragma once
// What the keyed archiver's two files share: NSKeyedArchiver.cpp encodes, NSKeyedArchiver+Decoding.cpp
// decodes. The archive's constants, the state of one encode and of one decode, and the coder's
// view of them. Not for other code.
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/BinaryPlistReader.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/PlistValue.h"

namespace keyedarchive {

// Objects and plain values nest at most this deep.
inline constexpr int kMaxDepth = 256;
// Dates are stored as seconds since 2001-01-01.
inline constexpr double kReferenceDate = 978307200.0;
// What one decoded plain value is reckoned to take besides its text or bytes.
inline constexpr size_t kValueCost = 64;

// The errors of a damaged archive (code 4864) and of a graph that cannot be archived (4866).
NSErrorRef corruptError(const std::string& reason);
NSErrorRef invalidValueError(const std::string& reason);

// A field key starting with "$" is stored with one more "$".
inline std::string storedKey(const std::string& key) { return !key.empty() && key[0] == '$' ? "$" + key : key; }

// The state of one encode: the object table being built, the objects, texts and classes already
// in it, and the first error.
struct EncodeContext {
  Value objects = Value::array({"$null"});
  std::map<const NSCoding*, uint64_t> objectUIDs;
  std::map<std::string, uint64_t> stringUIDs;
  std::map<std::string, uint64_t> classUIDs;
  NSErrorRef error;
  int depth = 0;

  uint64_t add(Value v) {
    objects.push_back(std::move(v));
    return objects.size() - 1;
  }
  uint64_t stringUID(const std::string& s) {
    auto it = stringUIDs.find(s);
    if (it != stringUIDs.end()) return it->second;
    uint64_t uid = add(Value(s));
    stringUIDs.emplace(s, uid);
    return uid;
  }
  uint64_t classUID(const std::string& name) {
    auto it = classUIDs.find(name);
    if (it != classUIDs.end()) return it->second;
    Value entry = Value::object();
    entry["$classname"] = name;
    entry["$classes"] = Value::array({name, "NSObject"});
    uint64_t uid = add(std::move(entry));
    classUIDs.emplace(name, uid);
    return uid;
  }
  uint64_t dateUID(double sinceReferenceDate) {
    Value entry = Value::object();
    entry["NS.time"] = sinceReferenceDate;
    entry["$class"] = ns::plistUID(classUID("NSDate"));
    return add(std::move(entry));
  }
  void fail(NSErrorRef e) {
    if (!error) error = std::move(e);
  }

  uint64_t valueUID(const Value& v, int level);
  uint64_t objectUID(const NSCoding* object);
};

// The archive's object table ("$objects"). The entries of a binary archive are read from the
// property list when the decode first reaches them, each checked then, so that a damaged entry
// fails only what refers to it; an XML archive's are read whole beforehand.
class ObjectTable {
 public:
  ObjectTable() = default;
  explicit ObjectTable(Value entries) : entries_(std::move(entries)) {}
  // The table of a binary archive; it holds at most kMaxPlistValues entries, as many as the whole
  // list may hold values.
  ObjectTable(std::unique_ptr<ns::BinaryPlistObjects> plist, ns::BinaryPlistObjects::Container table)
      : plist_(std::move(plist)), table_(table), slots_(static_cast<size_t>(table.count)) {}

  size_t size() const { return plist_ ? slots_.size() : entries_.size(); }
  // The entry (uid below size()), or null with *why when it cannot be read. An entry is read once;
  // one that could not be read fails again with the same reason.
  const Value* at(uint64_t uid, std::string* why);
  // Whether reading passed the property list's limits: nothing more can be read.
  bool exhausted() const { return plist_ && plist_->exhausted(); }

 private:
  Value entries_;  // read beforehand
  std::unique_ptr<ns::BinaryPlistObjects> plist_;
  ns::BinaryPlistObjects::Container table_;
  struct Slot {
    enum class State : uint8_t { unread, read, damaged } state = State::unread;
    Value entry;
    std::string why;
  };
  std::vector<Slot> slots_;  // by uid
};

// The state of one decode: the archive's object table, the classes allowed, the objects decoded
// so far (each once), what the plain values may still take, and the first error.
struct DecodeContext {
  ObjectTable objects;
  std::set<std::string> allowed;
  std::map<std::string, std::string> classMap;
  std::map<uint64_t, NSCodingRef> decoded;
  std::set<uint64_t> inProgress;
  // Plain lists and dictionaries already decoded: the value, the level it was decoded at (a copy
  // is good for that level and those above it) and what decoding it cost.
  struct SharedValue {
    Value value;
    int level;
    size_t cost;
  };
  std::map<uint64_t, SharedValue> values;
  size_t budget = kMaxKeyedArchiveDecodedBytes;
  bool exhausted = false;  // the budget ran out: nothing more can be decoded
  NSErrorRef error;
  int depth = 0;

  void fail(NSErrorRef e) {
    if (!error) error = std::move(e);
  }
  // Counts what the decoded values take; false (with the error) once they pass the limit.
  bool charge(size_t bytes) {
    if (bytes > budget) {
      budget = 0;
      exhausted = true;
      fail(corruptError("The archive expands to more than its size limit."));
      return false;
    }
    budget -= bytes;
    return true;
  }
  // The table entry a reference points at; null (with an error) for a reference out of range or
  // an entry that cannot be read.
  const Value* entry(uint64_t uid) {
    if (uid >= objects.size()) {
      fail(corruptError("A reference points outside the archive's object table."));
      return nullptr;
    }
    return readEntry(uid);
  }
  // Like entry, but a reference out of range gives null without an error (an entry that cannot be
  // read still records its error: whatever refers to it fails).
  const Value* peek(uint64_t uid) { return uid < objects.size() ? readEntry(uid) : nullptr; }
  // The class name of an object entry, or nullopt when the entry is not an object.
  std::optional<std::string> className(const Value& e) {
    if (!e.is_object()) return std::nullopt;
    auto cls = e.find("$class");
    if (cls == e.end() || !ns::isPlistUID(*cls)) return std::nullopt;
    const Value* c = peek(ns::plistUIDValue(*cls));
    if (!c || !c->is_object()) return std::nullopt;
    auto name = c->find("$classname");
    if (name == c->end() || !name->is_string()) return std::nullopt;
    return name->get<std::string>();
  }
  // The entry uid (below the table's size), recording why it cannot be read.
  const Value* readEntry(uint64_t uid) {
    std::string why;
    if (const Value* e = objects.at(uid, &why)) return e;
    if (objects.exhausted()) {
      exhausted = true;
      fail(corruptError("The archive expands to more than its size limit (" + why + ")."));
    } else {
      fail(corruptError("An object of the archive is damaged: " + why + "."));
    }
    return nullptr;
  }


  NSCodingRef objectAt(uint64_t uid);
  bool valueAt(uint64_t uid, Value& out, int level);
};

}  // namespace keyedarchive

struct NSCoder::Impl {
  std::shared_ptr<keyedarchive::EncodeContext> enc;
  Value fields = Value::object();  // the object being encoded
  std::shared_ptr<keyedarchive::DecodeContext> dec;
  const Value* decFields = nullptr;  // the object being decoded

  const Value* lookup(const std::string& key) const {
    if (!decFields || !decFields->is_object()) return nullptr;
    auto it = decFields->find(keyedarchive::storedKey(key));
    return it == decFields->end() ? nullptr : &*it;
  }
};
