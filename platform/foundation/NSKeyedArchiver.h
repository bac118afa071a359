#pragma once
// Keyed archiving: an object is a class name with typed keyed fields (string, integer, double,
// bool, date, data, nested object, list, null). Decoding checks the class of every object against
// an allowed list and the type of every field, and refuses unknown classes, wrong types and
// truncated or corrupt archives with an error, never a crash. The archive is a binary plist.
//
// A binary archive's object table is read entry by entry as the decode reaches it
// (BinaryPlistReader.h), each entry checked then: an entry whose bytes are damaged fails only what
// refers to it (in decodeObjectListSkippingDamaged, only that item), and one nothing refers to is
// never read. Damage to the list's trailer or to its top level (the archive's own keys and the
// table itself) makes the archive unreadable.
//
// Limits of decoding: the archive is read as a property list (PlistValue.h: its size, nesting and
// expansion limits, for all entries read together); objects and plain values nest at most 256
// levels; an archived object referenced from several places is decoded once and shared, a plain
// list or dictionary is decoded once and copied into each place, and the plain values of one
// decode may take at most kMaxKeyedArchiveDecodedBytes (reckoned), so that lists listing each
// other over and over cannot expand without bound.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

class NSCoder;

// An object that can be archived. className() names its stored class.
class NSCoding {
 public:
  virtual ~NSCoding() = default;
  virtual std::string className() const = 0;
  virtual void encodeWithCoder(NSCoder& coder) const = 0;
};
using NSCodingRef = std::shared_ptr<NSCoding>;

// Decoders by class name: a factory reads the fields from the coder and returns the object, or
// nullptr (after coder.failWithError) when the fields are not acceptable.
using NSCodingFactory = std::function<NSCodingRef(NSCoder& coder)>;
void NSRegisterCodingClass(const std::string& className, NSCodingFactory factory);

class NSCoder {
 public:
  enum class Kind { String, Integer, Double, Bool, Date, Data, Object, List, Null };

  // Encoding.
  void encodeString(const std::string& v, const std::string& key);
  void encodeInteger(int64_t v, const std::string& key);
  void encodeDouble(double v, const std::string& key);
  void encodeBool(bool v, const std::string& key);
  void encodeDate(double secondsSince1970, const std::string& key);
  void encodeData(const Bytes& v, const std::string& key);
  void encodeObject(const NSCoding* v, const std::string& key);  // null encodes Null
  void encodeObjectList(const std::vector<const NSCoding*>& v, const std::string& key);
  void encodeValue(const Value& v, const std::string& key);  // plain values (dictionaries, lists…)

  // Decoding: each returns nullopt (and records an error) when the key holds another type;
  // an absent key gives nullopt without an error. An integer above 2^63-1 is of another type for
  // decodeInteger. decodeObject checks the allowed classes.
  bool containsValueForKey(const std::string& key) const;
  // The kind of the value stored under `key` (nullopt when absent), so that an optional field of
  // another type can be skipped without failing the decode. Lists and plain arrays are List;
  // archived objects and plain dictionaries are Object.
  std::optional<Kind> kindForKey(const std::string& key) const;
  std::optional<std::string> decodeString(const std::string& key);
  std::optional<int64_t> decodeInteger(const std::string& key);
  std::optional<double> decodeDouble(const std::string& key);  // integers are accepted
  std::optional<bool> decodeBool(const std::string& key);
  std::optional<double> decodeDate(const std::string& key);
  std::optional<Bytes> decodeData(const std::string& key);
  NSCodingRef decodeObject(const std::string& key);
  std::optional<std::vector<NSCodingRef>> decodeObjectList(const std::string& key);
  // Like decodeObjectList, but an item that cannot be decoded costs only itself: it is left out,
  // its error added to *skipped, and the decode goes on. A field that holds no list of objects, and
  // an archive that expands past its limit, still fail the whole decode.
  std::optional<std::vector<NSCodingRef>> decodeObjectListSkippingDamaged(const std::string& key,
                                                                          std::vector<NSErrorRef>* skipped);
  std::optional<Value> decodeValue(const std::string& key);

  void failWithError(NSErrorRef error);
  NSErrorRef error() const;

  struct Impl;
  explicit NSCoder(std::shared_ptr<Impl> impl);

 private:
  std::shared_ptr<Impl> impl_;
};

// Archives are small records (they live in the keychain, whose store holds a few megabytes):
// what one decode produces is capped well below what a property list may hold.
inline constexpr size_t kMaxKeyedArchiveDecodedBytes = 8 << 20;

inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr int64_t NSCoderReadCorruptError = 4864;
inline constexpr int64_t NSCoderValueNotFoundError = 4865;
inline constexpr int64_t NSCoderInvalidValueError = 4866;  // an object graph that cannot be archived

class NSKeyedArchiver {
 public:
  // The archive of the object graph, or an empty result with an error.
  static std::optional<Bytes> archivedDataWithRootObject(const NSCoding& root, NSErrorRef* error);
};

class NSKeyedUnarchiver {
 public:
  // Decodes the root object. Every object's class must be in allowedClasses (after mapping
  // stored names through classNameMap); otherwise, or on a wrong type or a corrupt archive,
  // returns nullptr with an NSCocoaErrorDomain error (code 4864).
  static NSCodingRef unarchivedObjectOfClasses(const std::set<std::string>& allowedClasses,
                                               const Bytes& data, NSErrorRef* error,
                                               const std::map<std::string, std::string>& classNameMap = {});
};
