#include "platform/foundation/NSKeyedArchiver.h"

#include <exception>
#include <mutex>

#include "platform/foundation/PlistValue.h"

// The archive follows the platform's keyed-archive layout: a dictionary with "$archiver",
// "$version", "$top" (the root's reference under "root") and "$objects", the table every
// reference (a plist UID) points into. Entry 0 is "$null". An object is a dictionary of its keyed
// fields plus "$class", a reference to {"$classname", "$classes"}. Strings, data, dates
// (class NSDate, "NS.time" since 2001), lists (class NSArray, "NS.objects") and dictionaries
// (class NSDictionary, "NS.keys"/"NS.objects") are entries of the table; integers, doubles and
// booleans stand inline in their field. A field key starting with "$" is stored with one more "$".

namespace {

constexpr int kMaxDepth = 256;
constexpr double kReferenceDate = 978307200.0;
// What one decoded plain value is reckoned to take besides its text or bytes.
constexpr size_t kValueCost = 64;

std::mutex& registryMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::map<std::string, NSCodingFactory>& factories() {
  static auto* f = new std::map<std::string, NSCodingFactory>();
  return *f;
}

NSErrorRef corruptError(const std::string& reason) {
  Value info = Value::object();
  info[NSLocalizedDescriptionKey] = "The data couldn't be read because it isn't in the correct format.";
  info[NSLocalizedFailureReasonErrorKey] = reason;
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError, info);
}

NSErrorRef invalidValueError(const std::string& reason) {
  Value info = Value::object();
  info[NSLocalizedDescriptionKey] = "The data couldn't be written because it isn't in the correct format.";
  info[NSLocalizedFailureReasonErrorKey] = reason;
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderInvalidValueError, info);
}

std::string storedKey(const std::string& key) { return !key.empty() && key[0] == '$' ? "$" + key : key; }

bool isInteger(const Value& v) { return v.is_number_integer(); }  // signed or unsigned, not bool

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
  uint64_t dateUID(double since1970) {
    Value entry = Value::object();
    entry["NS.time"] = since1970 - kReferenceDate;
    entry["$class"] = ns::plistUID(classUID("NSDate"));
    return add(std::move(entry));
  }
  void fail(NSErrorRef e) {
    if (!error) error = std::move(e);
  }

  uint64_t valueUID(const Value& v, int level);
  uint64_t objectUID(const NSCoding* object);
};

struct DecodeContext {
  Value objects;
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
  NSErrorRef error;
  int depth = 0;

  void fail(NSErrorRef e) {
    if (!error) error = std::move(e);
  }
  // Counts what the decoded values take; false (with the error) once they pass the limit.
  bool charge(size_t bytes) {
    if (bytes > budget) {
      budget = 0;
      fail(corruptError("The archive expands to more than its size limit."));
      return false;
    }
    budget -= bytes;
    return true;
  }
  // The table entry a reference points at; null (with an error) for a reference out of range.
  const Value* entry(uint64_t uid) {
    if (uid >= objects.size()) {
      fail(corruptError("A reference points outside the archive's object table."));
      return nullptr;
    }
    return &objects[uid];
  }
  // The class name of an object entry, or nullopt when the entry is not an object.
  std::optional<std::string> className(const Value& e) {
    if (!e.is_object()) return std::nullopt;
    auto cls = e.find("$class");
    if (cls == e.end() || !ns::isPlistUID(*cls)) return std::nullopt;
    uint64_t uid = ns::plistUIDValue(*cls);
    if (uid >= objects.size()) return std::nullopt;
    const Value& c = objects[uid];
    if (!c.is_object()) return std::nullopt;
    auto name = c.find("$classname");
    if (name == c.end() || !name->is_string()) return std::nullopt;
    return name->get<std::string>();
  }

  NSCodingRef objectAt(uint64_t uid);
  bool valueAt(uint64_t uid, Value& out, int level);
};

}  // namespace

struct NSCoder::Impl {
  std::shared_ptr<EncodeContext> enc;
  Value fields = Value::object();  // the object being encoded
  std::shared_ptr<DecodeContext> dec;
  const Value* decFields = nullptr;  // the object being decoded

  const Value* lookup(const std::string& key) const {
    if (!decFields || !decFields->is_object()) return nullptr;
    auto it = decFields->find(storedKey(key));
    return it == decFields->end() ? nullptr : &*it;
  }
};

namespace {

uint64_t EncodeContext::valueUID(const Value& v, int level) {
  if (level > kMaxDepth) {
    fail(invalidValueError("The value nests too deeply to be archived."));
    return 0;
  }
  if (v.is_null()) return 0;
  if (v.is_string()) return stringUID(v.get<std::string>());
  if (value::isDate(v)) return dateUID(value::dateSeconds(v));
  if (v.is_binary()) return add(value::data(Bytes(v.get_binary().begin(), v.get_binary().end())));
  if (v.is_boolean() || v.is_number()) return add(v);
  if (v.is_array()) {
    Value refs = Value::array();
    for (const auto& item : v) refs.push_back(ns::plistUID(valueUID(item, level + 1)));
    Value entry = Value::object();
    entry["NS.objects"] = std::move(refs);
    entry["$class"] = ns::plistUID(classUID("NSArray"));
    return add(std::move(entry));
  }
  Value keys = Value::array(), refs = Value::array();
  for (auto it = v.begin(); it != v.end(); ++it) {
    keys.push_back(ns::plistUID(stringUID(it.key())));
    refs.push_back(ns::plistUID(valueUID(it.value(), level + 1)));
  }
  Value entry = Value::object();
  entry["NS.keys"] = std::move(keys);
  entry["NS.objects"] = std::move(refs);
  entry["$class"] = ns::plistUID(classUID("NSDictionary"));
  return add(std::move(entry));
}

uint64_t EncodeContext::objectUID(const NSCoding* object) {
  if (!object) return 0;
  auto known = objectUIDs.find(object);
  if (known != objectUIDs.end()) return known->second;
  if (depth >= kMaxDepth) {
    fail(invalidValueError("The object graph nests too deeply to be archived."));
    return 0;
  }
  const uint64_t uid = add(Value("$null"));  // placeholder until the fields are known
  objectUIDs.emplace(object, uid);
  auto impl = std::make_shared<NSCoder::Impl>();
  impl->enc = nullptr;  // set below; the coder shares this context
  std::string name;
  ++depth;
  try {
    name = object->className();
    // The context is owned by the caller's shared_ptr; the child coder only needs to reach it.
    impl->enc = std::shared_ptr<EncodeContext>(std::shared_ptr<EncodeContext>(), this);
    NSCoder child(impl);
    object->encodeWithCoder(child);
  } catch (const std::exception& e) {
    fail(invalidValueError(std::string("Encoding an object failed: ") + e.what()));
  } catch (...) {
    fail(invalidValueError("Encoding an object failed."));
  }
  --depth;
  if (name.empty()) fail(invalidValueError("An archived object has no class name."));
  impl->fields["$class"] = ns::plistUID(classUID(name));
  objects[uid] = std::move(impl->fields);
  return uid;
}

NSCodingRef DecodeContext::objectAt(uint64_t uid) {
  if (error || uid == 0) return nullptr;
  auto known = decoded.find(uid);
  if (known != decoded.end()) return known->second;
  if (inProgress.count(uid)) {
    fail(corruptError("An archived object contains itself."));
    return nullptr;
  }
  if (depth >= kMaxDepth) {
    fail(corruptError("The archive nests objects too deeply."));
    return nullptr;
  }
  const Value* e = entry(uid);
  if (!e) return nullptr;
  auto stored = className(*e);
  if (!stored) {
    fail(corruptError("A field that should hold an object holds another kind of value."));
    return nullptr;
  }
  std::string name = *stored;
  if (auto mapped = classMap.find(name); mapped != classMap.end()) name = mapped->second;
  if (!allowed.count(name)) {
    fail(corruptError("The archive contains an object of class \"" + *stored + "\", which is not allowed."));
    return nullptr;
  }
  NSCodingFactory factory;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = factories().find(name);
    if (it != factories().end()) factory = it->second;
  }
  if (!factory) {
    fail(corruptError("The archive contains an object of class \"" + name + "\", which is unknown."));
    return nullptr;
  }
  auto impl = std::make_shared<NSCoder::Impl>();
  impl->dec = std::shared_ptr<DecodeContext>(std::shared_ptr<DecodeContext>(), this);
  impl->decFields = e;
  NSCoder child(impl);
  NSCodingRef result;
  inProgress.insert(uid);
  ++depth;
  try {
    result = factory(child);
  } catch (const std::exception& ex) {
    fail(corruptError("Decoding an object of class \"" + name + "\" failed: " + ex.what()));
  } catch (...) {
    fail(corruptError("Decoding an object of class \"" + name + "\" failed."));
  }
  --depth;
  inProgress.erase(uid);
  if (error) return nullptr;
  if (!result) {
    fail(corruptError("An object of class \"" + name + "\" could not be decoded."));
    return nullptr;
  }
  decoded.emplace(uid, result);
  return result;
}

bool DecodeContext::valueAt(uint64_t uid, Value& out, int level) {
  if (level > kMaxDepth) {
    fail(corruptError("The archive nests values too deeply."));
    return false;
  }
  if (uid == 0) {
    out = nullptr;
    return true;
  }
  const Value* e = entry(uid);
  if (!e) return false;
  if (auto shared = values.find(uid); shared != values.end() && level >= shared->second.level) {
    // Referenced again: a copy of the first decode, costing what it did.
    if (!charge(shared->second.cost)) return false;
    out = shared->second.value;
    return true;
  }
  if (!charge(kValueCost)) return false;
  if (!e->is_object()) {
    if (e->is_array() || ns::isPlistUID(*e)) {
      fail(corruptError("The archive's object table holds a malformed entry."));
      return false;
    }
    if (e->is_string() && !charge(e->get_ref<const std::string&>().size())) return false;
    if (e->is_binary() && !charge(e->get_binary().size())) return false;
    out = *e;  // string, number, boolean, data
    return true;
  }
  auto cls = className(*e);
  if (!cls) {
    fail(corruptError("The archive's object table holds a malformed entry."));
    return false;
  }
  if (*cls == "NSDate") {
    auto t = e->find("NS.time");
    if (t == e->end() || !t->is_number()) {
      fail(corruptError("A date in the archive has no time."));
      return false;
    }
    out = value::date(t->get<double>() + kReferenceDate);
    return true;
  }
  if (*cls == "NSData" || *cls == "NSMutableData") {
    auto d = e->find("NS.data");
    if (d == e->end() || !value::isData(*d)) {
      fail(corruptError("A data object in the archive has no bytes."));
      return false;
    }
    if (!charge(d->get_binary().size())) return false;
    out = *d;
    return true;
  }
  if (*cls == "NSString" || *cls == "NSMutableString") {
    auto s = e->find("NS.string");
    if (s == e->end() || !s->is_string()) {
      fail(corruptError("A string object in the archive has no text."));
      return false;
    }
    if (!charge(s->get_ref<const std::string&>().size())) return false;
    out = *s;
    return true;
  }
  const size_t budgetBefore = budget;
  auto remember = [&] {
    values[uid] = SharedValue{out, level, budgetBefore - budget};
    return true;
  };
  auto refs = e->find("NS.objects");
  if ((*cls == "NSArray" || *cls == "NSMutableArray" || *cls == "NSSet" || *cls == "NSMutableSet") &&
      refs != e->end() && refs->is_array()) {
    out = Value::array();
    for (const auto& r : *refs) {
      Value item;
      if (!ns::isPlistUID(r) || !valueAt(ns::plistUIDValue(r), item, level + 1)) {
        fail(corruptError("A list in the archive holds a malformed reference."));
        return false;
      }
      out.push_back(std::move(item));
    }
    return remember();
  }
  auto keys = e->find("NS.keys");
  if ((*cls == "NSDictionary" || *cls == "NSMutableDictionary") && refs != e->end() && refs->is_array() &&
      keys != e->end() && keys->is_array() && keys->size() == refs->size()) {
    out = Value::object();
    for (size_t i = 0; i < keys->size(); ++i) {
      Value k, item;
      if (!ns::isPlistUID((*keys)[i]) || !valueAt(ns::plistUIDValue((*keys)[i]), k, level + 1) || !k.is_string() ||
          !ns::isPlistUID((*refs)[i]) || !valueAt(ns::plistUIDValue((*refs)[i]), item, level + 1)) {
        fail(corruptError("A dictionary in the archive holds a malformed entry."));
        return false;
      }
      out[k.get<std::string>()] = std::move(item);
    }
    return remember();
  }
  fail(corruptError("A field holds an archived object of class \"" + *cls + "\" where a plain value was expected."));
  return false;
}

}  // namespace

void NSRegisterCodingClass(const std::string& className, NSCodingFactory factory) {
  std::lock_guard<std::mutex> lock(registryMutex());
  factories()[className] = std::move(factory);
}

NSCoder::NSCoder(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

// ---- encoding ----

void NSCoder::encodeString(const std::string& v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = ns::plistUID(impl_->enc->stringUID(v));
}

void NSCoder::encodeInteger(int64_t v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = v;
}

void NSCoder::encodeDouble(double v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = v;
}

void NSCoder::encodeBool(bool v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = v;
}

void NSCoder::encodeDate(double secondsSince1970, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = ns::plistUID(impl_->enc->dateUID(secondsSince1970));
}

void NSCoder::encodeData(const Bytes& v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = ns::plistUID(impl_->enc->add(value::data(v)));
}

void NSCoder::encodeObject(const NSCoding* v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  impl_->fields[storedKey(key)] = ns::plistUID(impl_->enc->objectUID(v));
}

void NSCoder::encodeObjectList(const std::vector<const NSCoding*>& v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  EncodeContext& ctx = *impl_->enc;
  Value refs = Value::array();
  for (const NSCoding* item : v) {
    if (!item) {
      ctx.fail(invalidValueError("A list of objects cannot hold null."));
      return;
    }
    refs.push_back(ns::plistUID(ctx.objectUID(item)));
  }
  Value entry = Value::object();
  entry["NS.objects"] = std::move(refs);
  entry["$class"] = ns::plistUID(ctx.classUID("NSArray"));
  impl_->fields[storedKey(key)] = ns::plistUID(ctx.add(std::move(entry)));
}

void NSCoder::encodeValue(const Value& v, const std::string& key) {
  if (!impl_ || !impl_->enc) return;
  if (v.is_boolean() || v.is_number())
    impl_->fields[storedKey(key)] = v;
  else
    impl_->fields[storedKey(key)] = ns::plistUID(impl_->enc->valueUID(v, 0));
}

// ---- decoding ----

namespace {
NSErrorRef typeError(const std::string& key, const char* expected) {
  return corruptError("The value for key \"" + key + "\" is not " + expected + ".");
}
}  // namespace

bool NSCoder::containsValueForKey(const std::string& key) const { return impl_ && impl_->lookup(key); }

std::optional<NSCoder::Kind> NSCoder::kindForKey(const std::string& key) const {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (v->is_boolean()) return Kind::Bool;
  if (isInteger(*v)) return Kind::Integer;
  if (v->is_number_float()) return Kind::Double;
  if (v->is_string()) return Kind::String;
  if (value::isData(*v)) return Kind::Data;
  if (!ns::isPlistUID(*v)) return v->is_array() ? Kind::List : Kind::Object;
  uint64_t uid = ns::plistUIDValue(*v);
  if (uid == 0) return Kind::Null;
  DecodeContext& ctx = *impl_->dec;
  if (uid >= ctx.objects.size()) return std::nullopt;
  const Value& e = ctx.objects[uid];
  if (e.is_string()) return Kind::String;
  if (value::isData(e)) return Kind::Data;
  if (e.is_boolean()) return Kind::Bool;
  if (isInteger(e)) return Kind::Integer;
  if (e.is_number_float()) return Kind::Double;
  auto cls = ctx.className(e);
  if (!cls) return std::nullopt;
  if (*cls == "NSDate") return Kind::Date;
  if (*cls == "NSData" || *cls == "NSMutableData") return Kind::Data;
  if (*cls == "NSString" || *cls == "NSMutableString") return Kind::String;
  if (*cls == "NSArray" || *cls == "NSMutableArray" || *cls == "NSSet" || *cls == "NSMutableSet") return Kind::List;
  return Kind::Object;
}

std::optional<std::string> NSCoder::decodeString(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (v->is_string()) return v->get<std::string>();
  if (ns::isPlistUID(*v)) {
    uint64_t uid = ns::plistUIDValue(*v);
    if (uid == 0) return std::nullopt;
    Value resolved;
    if (impl_->dec->valueAt(uid, resolved, 0) && resolved.is_string()) return resolved.get<std::string>();
    if (impl_->dec->error) return std::nullopt;
  }
  failWithError(typeError(key, "a string"));
  return std::nullopt;
}

std::optional<int64_t> NSCoder::decodeInteger(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (isInteger(*v)) return v->get<int64_t>();
  failWithError(typeError(key, "an integer"));
  return std::nullopt;
}

std::optional<double> NSCoder::decodeDouble(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (v->is_number()) return v->get<double>();
  failWithError(typeError(key, "a number"));
  return std::nullopt;
}

std::optional<bool> NSCoder::decodeBool(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (v->is_boolean()) return v->get<bool>();
  failWithError(typeError(key, "a boolean"));
  return std::nullopt;
}

std::optional<double> NSCoder::decodeDate(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (ns::isPlistUID(*v)) {
    uint64_t uid = ns::plistUIDValue(*v);
    if (uid == 0) return std::nullopt;
    if (uid < impl_->dec->objects.size() && impl_->dec->className(impl_->dec->objects[uid]) == "NSDate") {
      Value resolved;
      if (impl_->dec->valueAt(uid, resolved, 0)) return value::dateSeconds(resolved);
      return std::nullopt;
    }
  }
  failWithError(typeError(key, "a date"));
  return std::nullopt;
}

std::optional<Bytes> NSCoder::decodeData(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (value::isData(*v)) return value::dataBytes(*v);
  if (ns::isPlistUID(*v)) {
    uint64_t uid = ns::plistUIDValue(*v);
    if (uid == 0) return std::nullopt;
    Value resolved;
    if (impl_->dec->valueAt(uid, resolved, 0) && value::isData(resolved)) return value::dataBytes(resolved);
    if (impl_->dec->error) return std::nullopt;
  }
  failWithError(typeError(key, "data"));
  return std::nullopt;
}

NSCodingRef NSCoder::decodeObject(const std::string& key) {
  if (!impl_ || !impl_->dec) return nullptr;
  const Value* v = impl_->lookup(key);
  if (!v) return nullptr;
  if (!ns::isPlistUID(*v)) {
    failWithError(typeError(key, "an object"));
    return nullptr;
  }
  return impl_->dec->objectAt(ns::plistUIDValue(*v));
}

std::optional<std::vector<NSCodingRef>> NSCoder::decodeObjectList(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  DecodeContext& ctx = *impl_->dec;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (ns::isPlistUID(*v)) {
    uint64_t uid = ns::plistUIDValue(*v);
    if (uid == 0) return std::nullopt;
    const Value* e = ctx.entry(uid);
    if (!e) return std::nullopt;
    auto cls = ctx.className(*e);
    auto refs = e->find("NS.objects");
    if (cls && (*cls == "NSArray" || *cls == "NSMutableArray") && refs != e->end() && refs->is_array()) {
      std::vector<NSCodingRef> out;
      for (const auto& r : *refs) {
        if (!ns::isPlistUID(r) || ns::plistUIDValue(r) == 0) {
          failWithError(corruptError("The list for key \"" + key + "\" holds something other than objects."));
          return std::nullopt;
        }
        auto item = ctx.objectAt(ns::plistUIDValue(r));
        if (!item) return std::nullopt;  // the error is recorded
        out.push_back(std::move(item));
      }
      return out;
    }
  }
  failWithError(typeError(key, "a list of objects"));
  return std::nullopt;
}

std::optional<Value> NSCoder::decodeValue(const std::string& key) {
  if (!impl_ || !impl_->dec) return std::nullopt;
  const Value* v = impl_->lookup(key);
  if (!v) return std::nullopt;
  if (!ns::isPlistUID(*v)) return *v;
  Value out;
  if (!impl_->dec->valueAt(ns::plistUIDValue(*v), out, 0)) return std::nullopt;
  return out;
}

void NSCoder::failWithError(NSErrorRef error) {
  if (!impl_ || !error) return;
  if (impl_->dec)
    impl_->dec->fail(std::move(error));
  else if (impl_->enc)
    impl_->enc->fail(std::move(error));
}

NSErrorRef NSCoder::error() const {
  if (!impl_) return nullptr;
  if (impl_->dec) return impl_->dec->error;
  if (impl_->enc) return impl_->enc->error;
  return nullptr;
}

// ---- archiver and unarchiver ----

std::optional<Bytes> NSKeyedArchiver::archivedDataWithRootObject(const NSCoding& root, NSErrorRef* error) {
  auto ctx = std::make_shared<EncodeContext>();
  const uint64_t rootUID = ctx->objectUID(&root);
  if (!ctx->error) {
    Value archive = Value::object();
    archive["$archiver"] = "NSKeyedArchiver";
    archive["$version"] = 100000;
    archive["$top"] = Value::object({{"root", ns::plistUID(rootUID)}});
    archive["$objects"] = std::move(ctx->objects);
    std::string why;
    if (auto bytes = ns::plistSerialize(archive, true, &why)) {
      if (error) *error = nullptr;
      return Bytes(bytes->begin(), bytes->end());
    }
    ctx->fail(invalidValueError("The archive could not be written: " + why));
  }
  if (error) *error = ctx->error;
  return std::nullopt;
}

NSCodingRef NSKeyedUnarchiver::unarchivedObjectOfClasses(const std::set<std::string>& allowedClasses,
                                                         const Bytes& data, NSErrorRef* error,
                                                         const std::map<std::string, std::string>& classNameMap) {
  auto finish = [&](NSCodingRef result, NSErrorRef e) {
    if (error) *error = std::move(e);
    return result;
  };
  std::string why;
  auto parsed = ns::plistParse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &why);
  if (!parsed) return finish(nullptr, corruptError("The archive is not a readable property list (" + why + ")."));
  if (!parsed->is_object()) return finish(nullptr, corruptError("The archive's top level is not a dictionary."));
  auto archiver = parsed->find("$archiver");
  if (archiver != parsed->end() && (!archiver->is_string() || archiver->get<std::string>() != "NSKeyedArchiver"))
    return finish(nullptr, corruptError("The data is not a keyed archive."));
  auto objects = parsed->find("$objects");
  auto top = parsed->find("$top");
  if (objects == parsed->end() || !objects->is_array() || objects->empty() || top == parsed->end() ||
      !top->is_object())
    return finish(nullptr, corruptError("The data is not a keyed archive."));
  auto root = top->find("root");
  if (root == top->end() || !ns::isPlistUID(*root))
    return finish(nullptr, corruptError("The keyed archive has no root object."));

  auto ctx = std::make_shared<DecodeContext>();
  ctx->objects = std::move(*objects);
  ctx->allowed = allowedClasses;
  ctx->classMap = classNameMap;
  const uint64_t rootUID = ns::plistUIDValue(*root);
  if (rootUID == 0) {
    Value info = Value::object();
    info[NSLocalizedDescriptionKey] = "The data couldn't be read because it is missing.";
    return finish(nullptr, NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderValueNotFoundError, info));
  }
  NSCodingRef result = ctx->objectAt(rootUID);
  if (ctx->error || !result) return finish(nullptr, ctx->error ? ctx->error : corruptError("The root object could not be decoded."));
  return finish(result, nullptr);
}
