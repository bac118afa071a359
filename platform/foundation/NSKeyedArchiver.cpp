#include "platform/foundation/NSKeyedArchiver.h"

#include <exception>

#include "platform/foundation/NSKeyedArchiverSupport.h"
#include "platform/foundation/PlistValue.h"

// The archive follows the platform's keyed-archive layout: a dictionary with "$archiver",
// "$version", "$top" (the root's reference under "root") and "$objects", the table every
// reference (a plist UID) points into. Entry 0 is "$null". An object is a dictionary of its keyed
// fields plus "$class", a reference to {"$classname", "$classes"}. Strings, data, dates
// (class NSDate, "NS.time" since 2001), lists (class NSArray, "NS.objects") and dictionaries
// (class NSDictionary, "NS.keys"/"NS.objects") are entries of the table; integers, doubles and
// booleans stand inline in their field. A field key starting with "$" is stored with one more "$".
// Decoding is in NSKeyedArchiver+Decoding.cpp.

using namespace keyedarchive;

namespace keyedarchive {

NSErrorRef invalidValueError(const std::string& reason) {
  Value info = Value::object();
  info[NSLocalizedDescriptionKey] = "The data couldn't be written because it isn't in the correct format.";
  info[NSLocalizedFailureReasonErrorKey] = reason;
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderInvalidValueError, info);
}

uint64_t EncodeContext::valueUID(const Value& v, int level) {
  if (level > kMaxDepth) {
    fail(invalidValueError("The value nests too deeply to be archived."));
    return 0;
  }
  if (v.is_null()) return 0;
  if (v.is_string()) return stringUID(v.get<std::string>());
  if (value::isDate(v)) return dateUID(value::dateSecondsSinceReferenceDate(v));
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

}  // namespace keyedarchive

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
  impl_->fields[storedKey(key)] = ns::plistUID(impl_->enc->dateUID(secondsSince1970 - kReferenceDate));
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

// ---- archiver ----

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
