#include <exception>
#include <mutex>

#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSKeyedArchiverSupport.h"
#include "platform/foundation/PlistValue.h"

// Decoding keyed archives (the layout is described in NSKeyedArchiver.cpp).

using namespace keyedarchive;

namespace {

std::mutex& registryMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::map<std::string, NSCodingFactory>& factories() {
  static auto* f = new std::map<std::string, NSCodingFactory>();
  return *f;
}

bool isInteger(const Value& v) { return v.is_number_integer(); }  // signed or unsigned, not bool

}  // namespace

namespace keyedarchive {

NSErrorRef corruptError(const std::string& reason) {
  Value info = Value::object();
  info[NSLocalizedDescriptionKey] = "The data couldn't be read because it isn't in the correct format.";
  info[NSLocalizedFailureReasonErrorKey] = reason;
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError, info);
}

const Value* ObjectTable::at(uint64_t uid, std::string* why) {
  if (!plist_) return &entries_[uid];
  Slot& slot = slots_[uid];
  if (slot.state == Slot::State::unread) {
    auto entry = plist_->object(plist_->reference(table_, uid), &slot.why);
    slot.state = entry ? Slot::State::read : Slot::State::damaged;
    if (entry) slot.entry = std::move(*entry);
  }
  if (slot.state == Slot::State::damaged) {
    if (why) *why = slot.why;
    return nullptr;
  }
  return &slot.entry;
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
    out = value::dateSinceReferenceDate(t->get<double>());
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

}  // namespace keyedarchive

void NSRegisterCodingClass(const std::string& className, NSCodingFactory factory) {
  std::lock_guard<std::mutex> lock(registryMutex());
  factories()[className] = std::move(factory);
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
  const Value* entry = ctx.peek(uid);
  if (!entry) return std::nullopt;
  const Value& e = *entry;
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
  // An unsigned integer above the signed range has no value here: it is refused, not wrapped.
  if (isInteger(*v) && !(v->is_number_unsigned() && v->get<uint64_t>() >> 63)) return v->get<int64_t>();
  failWithError(typeError(key, "an integer within the signed 64-bit range"));
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
    const Value* e = impl_->dec->peek(uid);
    if (e && impl_->dec->className(*e) == "NSDate") {
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

namespace {

// The objects of the list stored under the key. With `skipped`, an item that cannot be decoded is
// left out, its error added there, and the decode goes on; without, it fails the decode. A field
// that holds no list of objects, and an archive that expands past its limit, always fail it.
std::optional<std::vector<NSCodingRef>> decodeList(NSCoder::Impl& impl, const std::string& key,
                                                   std::vector<NSErrorRef>* skipped) {
  if (!impl.dec || impl.dec->error) return std::nullopt;
  DecodeContext& ctx = *impl.dec;
  const Value* v = impl.lookup(key);
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
        NSCodingRef item;
        if (!ns::isPlistUID(r) || ns::plistUIDValue(r) == 0) {
          ctx.fail(corruptError("The list for key \"" + key + "\" holds something other than objects."));
        } else {
          item = ctx.objectAt(ns::plistUIDValue(r));
        }
        if (item) {
          out.push_back(std::move(item));
          continue;
        }
        if (!skipped || ctx.exhausted) return std::nullopt;  // the error is recorded
        skipped->push_back(ctx.error ? ctx.error : corruptError("An item of the list could not be decoded."));
        ctx.error = nullptr;
      }
      return out;
    }
  }
  ctx.fail(typeError(key, "a list of objects"));
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<NSCodingRef>> NSCoder::decodeObjectList(const std::string& key) {
  if (!impl_) return std::nullopt;
  return decodeList(*impl_, key, nullptr);
}

std::optional<std::vector<NSCodingRef>> NSCoder::decodeObjectListSkippingDamaged(const std::string& key,
                                                                                 std::vector<NSErrorRef>* skipped) {
  if (!impl_) return std::nullopt;
  std::vector<NSErrorRef> ignored;
  return decodeList(*impl_, key, skipped ? skipped : &ignored);
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

// ---- unarchiver ----

NSCodingRef NSKeyedUnarchiver::unarchivedObjectOfClasses(const std::set<std::string>& allowedClasses,
                                                         const Bytes& data, NSErrorRef* error,
                                                         const std::map<std::string, std::string>& classNameMap) {
  auto finish = [&](NSCodingRef result, NSErrorRef e) {
    if (error) *error = std::move(e);
    return result;
  };
  auto ctx = std::make_shared<DecodeContext>();
  ctx->allowed = allowedClasses;
  ctx->classMap = classNameMap;
  uint64_t rootUID = 0;
  std::string why;
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (bytes.substr(0, 6) == "bplist" && bytes.size() <= ns::kMaxPlistBytes) {
    // A binary archive's objects are read as the decode reaches them (see ObjectTable).
    auto plist = ns::BinaryPlistObjects::open(bytes, &why);
    if (!plist) return finish(nullptr, corruptError("The archive is not a readable property list (" + why + ")."));
    auto top = plist->container(plist->top(), &why);
    if (!top || !top->dictionary) {
      if (plist->exhausted()) return finish(nullptr, corruptError("The archive is not a readable property list (" + why + ")."));
      return finish(nullptr, corruptError("The archive's top level is not a dictionary."));
    }
    std::optional<ns::BinaryPlistObjects::Container> table;
    std::optional<Value> topEntry;
    std::set<std::string> keys;
    for (uint64_t i = 0; i < top->count; ++i) {
      auto key = plist->object(plist->reference(*top, i), &why);
      if (!key || !key->is_string() || !keys.insert(key->get<std::string>()).second) {
        if (key) why = key->is_string() ? "a dictionary holds one key twice" : "a dictionary key is not a string";
        return finish(nullptr, corruptError("The archive is not a readable property list (" + why + ")."));
      }
      const std::string& name = key->get_ref<const std::string&>();
      const uint64_t valueIndex = plist->reference(*top, top->count + i);
      if (name == "$archiver") {
        auto archiver = plist->object(valueIndex, &why);
        if (!archiver || !archiver->is_string() || archiver->get<std::string>() != "NSKeyedArchiver")
          return finish(nullptr, corruptError("The data is not a keyed archive."));
      } else if (name == "$objects") {
        table = plist->container(valueIndex, &why);
        if (!table || table->dictionary || table->count == 0)
          return finish(nullptr, corruptError("The data is not a keyed archive."));
        // Each entry is a value of the list: a table of more could never be read whole.
        if (table->count > ns::kMaxPlistValues)
          return finish(nullptr, corruptError("The archive's object table holds more than " +
                                              std::to_string(ns::kMaxPlistValues) + " entries."));
      } else if (name == "$top") {
        topEntry = plist->object(valueIndex, &why);
        if (!topEntry || !topEntry->is_object()) return finish(nullptr, corruptError("The data is not a keyed archive."));
      }
    }
    if (!table || !topEntry) return finish(nullptr, corruptError("The data is not a keyed archive."));
    auto root = topEntry->find("root");
    if (root == topEntry->end() || !ns::isPlistUID(*root))
      return finish(nullptr, corruptError("The keyed archive has no root object."));
    rootUID = ns::plistUIDValue(*root);
    ctx->objects = ObjectTable(std::move(plist), *table);
  } else {
    auto parsed = ns::plistParse(bytes, &why);
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
    rootUID = ns::plistUIDValue(*root);
    ctx->objects = ObjectTable(std::move(*objects));
  }
  if (rootUID == 0) {
    Value info = Value::object();
    info[NSLocalizedDescriptionKey] = "The data couldn't be read because it is missing.";
    return finish(nullptr, NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderValueNotFoundError, info));
  }
  NSCodingRef result = ctx->objectAt(rootUID);
  if (ctx->error || !result) return finish(nullptr, ctx->error ? ctx->error : corruptError("The root object could not be decoded."));
  return finish(result, nullptr);
}
