#include "platform/security/Keychain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"

// Each item class has its own store file under the keychain folder:
//   {"format":"keychain-items","version":1,
//    "items":[{"attributes":{"svce":"...","gena":{"$data":"<base64>"}},"data":"<base64>"}]}
// Data attribute values are tagged objects, so strings and data stay apart. Every call reads the
// file afresh under a lock shared with other processes, so stores in different processes agree.

namespace {

constexpr const char* kFormat = "keychain-items";
constexpr int kVersion = 1;
constexpr const char* kDataTag = "$data";

struct Item {
  Value attributes = Value::object();  // without the class
  Bytes data;
};

std::mutex& keychainMutex() {
  static std::mutex m;
  return m;
}

struct Failure {
  OSStatus status = 0;
  int remaining = 0;
};

std::map<security::KeychainOperation, Failure>& failures() {
  static std::map<security::KeychainOperation, Failure> f;
  return f;
}

// The injected status for this call, or errSecSuccess. Caller holds the keychain mutex.
OSStatus takeInjectedFailure(security::KeychainOperation op) {
  auto it = failures().find(op);
  if (it == failures().end() || it->second.remaining <= 0) return errSecSuccess;
  OSStatus status = it->second.status;
  if (--it->second.remaining == 0) failures().erase(it);
  return status;
}

bool isKnownClass(const std::string& cls) {
  return cls == kSecClassGenericPassword || cls == kSecClassKey;
}

// Keys that name item attributes, as opposed to the class, the value, and return/match/use options.
bool isAttributeKey(const std::string& key) {
  if (key == kSecClass) return false;
  for (const char* prefix : {"r_", "m_", "v_", "u_"}) {
    if (key.rfind(prefix, 0) == 0) return false;
  }
  return true;
}

bool isDataAttribute(const std::string& key) {
  return key == kSecAttrGeneric || key == kSecAttrApplicationTag;
}

// Data-valued attributes may be given as strings: both compare as their bytes.
bool normalizeAttribute(const std::string& key, const Value& in, Value* out) {
  if (isDataAttribute(key) && in.is_string()) {
    *out = value::data(in.get<std::string>());
    return true;
  }
  if (in.is_string() || value::isData(in) || in.is_number() || in.is_boolean()) {
    *out = in;
    return true;
  }
  return false;
}

bool dataValue(const Value& v, Bytes* out) {
  if (value::isData(v)) {
    *out = value::dataBytes(v);
    return true;
  }
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    out->assign(s.begin(), s.end());
    return true;
  }
  return false;
}

// The attributes a query or an attribute dictionary names, normalised; false when one is unusable.
bool collectAttributes(const Value& dict, Value* attributes) {
  *attributes = Value::object();
  for (auto it = dict.begin(); it != dict.end(); ++it) {
    if (!isAttributeKey(it.key())) continue;
    Value v;
    if (!normalizeAttribute(it.key(), it.value(), &v)) {
      NSLog("Keychain: the attribute %s has a value of an unsupported type", it.key().c_str());
      return false;
    }
    (*attributes)[it.key()] = std::move(v);
  }
  return true;
}

bool queryClass(const Value& dict, std::string* cls) {
  if (!dict.is_object()) return false;
  auto it = dict.find(kSecClass);
  if (it == dict.end() || !it->is_string()) return false;
  *cls = it->get<std::string>();
  return isKnownClass(*cls);
}

bool flag(const Value& dict, const char* key) {
  auto it = dict.find(key);
  if (it == dict.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  return false;
}

bool matches(const Item& item, const Value& queryAttributes) {
  for (auto it = queryAttributes.begin(); it != queryAttributes.end(); ++it) {
    auto found = item.attributes.find(it.key());
    if (found == item.attributes.end() || *found != it.value()) return false;
  }
  return true;
}

// The attributes that make an item unique within its class.
std::vector<const char*> primaryKey(const std::string& cls) {
  if (cls == kSecClassKey) return {kSecAttrKeyClass, kSecAttrKeyType, kSecAttrApplicationTag, kSecAttrAccessGroup};
  return {kSecAttrService, kSecAttrAccount, kSecAttrAccessGroup};
}

bool samePrimaryKey(const std::string& cls, const Item& a, const Item& b) {
  for (const char* key : primaryKey(cls)) {
    auto ia = a.attributes.find(key);
    auto ib = b.attributes.find(key);
    const Value va = ia == a.attributes.end() ? Value() : *ia;
    const Value vb = ib == b.attributes.end() ? Value() : *ib;
    if (va != vb) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The store file of one class.

std::string storePath(const std::string& cls) {
  return NSKeychainDirectory() + "/" + (cls == kSecClassKey ? "keys.json" : "generic-passwords.json");
}

// Serialises access with other processes for the length of one call.
class FileLock {
 public:
  FileLock() {
    const std::string path = NSKeychainDirectory() + "/.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      NSLog("Keychain: could not open the lock file %s: %s", path.c_str(), std::strerror(errno));
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

Value encodeAttribute(const Value& v) {
  if (value::isData(v)) return Value{{kDataTag, ns::base64Encode(value::dataBytes(v))}};
  return v;
}

bool decodeAttribute(const Value& v, Value* out) {
  if (v.is_object()) {
    auto it = v.find(kDataTag);
    if (v.size() != 1 || it == v.end() || !it->is_string()) return false;
    auto bytes = ns::base64Decode(it->get<std::string>());
    if (!bytes) return false;
    *out = value::data(*bytes);
    return true;
  }
  if (v.is_string() || v.is_number() || v.is_boolean()) {
    *out = v;
    return true;
  }
  return false;
}

// Decodes a store file. *why says what is wrong in words that never quote the file's text, which
// holds the items' secrets: the byte offset and kind of a syntax error, or which part is malformed.
bool decodeStore(const std::string& text, std::vector<Item>* items, std::string* why) {
  auto parsed = value::parseJSON(text, false, why);
  if (!parsed) return false;
  const Value& root = *parsed;
  auto format = root.is_object() ? root.find("format") : root.end();
  if (format == root.end() || !format->is_string() || format->get_ref<const std::string&>() != kFormat) {
    *why = "not a keychain store";
    return false;
  }
  auto version = root.find("version");
  if (version == root.end() || !version->is_number_integer() || version->get<int64_t>() != kVersion) {
    *why = "unknown version";
    return false;
  }
  auto list = root.find("items");
  if (list == root.end() || !list->is_array()) {
    *why = "no item list";
    return false;
  }
  for (size_t index = 0; index < list->size(); ++index) {
    const Value& entry = (*list)[index];
    const std::string which = "item " + std::to_string(index + 1);
    Item item;
    auto attrs = entry.is_object() ? entry.find("attributes") : entry.end();
    auto data = entry.is_object() ? entry.find("data") : entry.end();
    if (!entry.is_object() || attrs == entry.end() || !attrs->is_object() || data == entry.end() ||
        !data->is_string()) {
      *why = which + " is malformed";
      return false;
    }
    for (auto it = attrs->begin(); it != attrs->end(); ++it) {
      Value v;
      if (!decodeAttribute(it.value(), &v)) {
        *why = which + " has a malformed attribute";
        return false;
      }
      item.attributes[it.key()] = std::move(v);
    }
    auto bytes = ns::base64Decode(data->get_ref<const std::string&>());
    if (!bytes) {
      *why = which + " has malformed data";
      return false;
    }
    item.data = std::move(*bytes);
    items->push_back(std::move(item));
  }
  return true;
}

// Reads the class's items. A file that is not a store (or is larger than any store may be) is
// reported and moved aside, keeping its bytes; the class then starts empty. Fails only when the
// file cannot be read or moved.
OSStatus loadStore(const std::string& cls, std::vector<Item>* items) {
  items->clear();
  const std::string path = storePath(cls);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT || ::access(path.c_str(), F_OK) != 0) return errSecSuccess;
    NSLog("Keychain: could not read the store %s: %s", path.c_str(), std::strerror(errno));
    return errSecIO;
  }
  std::string text(security::kMaxKeychainStoreBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    NSLog("Keychain: could not read the store %s", path.c_str());
    return errSecIO;
  }
  text.resize(static_cast<size_t>(in.gcount()));
  in.close();
  std::string why;
  if (text.size() > security::kMaxKeychainStoreBytes) {
    why = "larger than " + std::to_string(security::kMaxKeychainStoreBytes) + " bytes";
  } else {
    try {
      if (decodeStore(text, items, &why)) return errSecSuccess;
    } catch (const std::exception&) {
      // Every part is checked before use; a store that still surprises the decoder is damaged too.
      why = "malformed store";
    }
  }
  items->clear();
  const std::string aside = ns::moveAside(path);
  if (aside.empty()) {
    NSLog("Keychain: the store %s could not be read (%s) and could not be moved aside", path.c_str(),
          why.c_str());
    return errSecIO;
  }
  NSLog("Keychain: the store %s could not be read (%s); it was moved aside to %s", path.c_str(),
        why.c_str(), aside.c_str());
  return errSecSuccess;
}

OSStatus saveStore(const std::string& cls, const std::vector<Item>& items) {
  Value list = Value::array();
  for (const auto& item : items) {
    Value attrs = Value::object();
    for (auto it = item.attributes.begin(); it != item.attributes.end(); ++it) {
      attrs[it.key()] = encodeAttribute(it.value());
    }
    list.push_back(Value{{"attributes", std::move(attrs)}, {"data", ns::base64Encode(item.data)}});
  }
  Value root{{"format", kFormat}, {"version", kVersion}, {"items", std::move(list)}};
  const std::string text = root.dump();
  if (text.size() > security::kMaxKeychainStoreBytes) {
    NSLog("Keychain: the change is not stored: the store %s would grow to %zu bytes, past its limit of %zu",
          storePath(cls).c_str(), text.size(), security::kMaxKeychainStoreBytes);
    return errSecIO;
  }
  if (!ns::writeFileAtomically(storePath(cls), text, 0600)) return errSecIO;
  return errSecSuccess;
}

// Runs `body` with the store folder present and locked against other threads and processes.
template <class F>
OSStatus withStore(security::KeychainOperation op, F&& body) {
  std::lock_guard<std::mutex> lock(keychainMutex());
  if (OSStatus injected = takeInjectedFailure(op); injected != errSecSuccess) return injected;
  if (!ns::createDirectory(NSKeychainDirectory())) return errSecIO;
  FileLock fileLock;
  return body();
}

Value describe(const std::string& cls, const Item& item, bool withAttributes, bool withData) {
  if (!withAttributes) return withData ? value::data(item.data) : Value();
  Value d = item.attributes;
  d[kSecClass] = cls;
  if (withData) d[kSecValueData] = value::data(item.data);
  return d;
}

}  // namespace

OSStatus SecItemAdd(const Value& attributes) {
  std::string cls;
  if (!queryClass(attributes, &cls)) {
    NSLog("Keychain: SecItemAdd needs a known item class");
    return errSecParam;
  }
  Item item;
  if (!collectAttributes(attributes, &item.attributes)) return errSecParam;
  if (auto v = attributes.find(kSecValueData); v != attributes.end() && !dataValue(*v, &item.data)) {
    NSLog("Keychain: SecItemAdd: the item's data must be data or a string");
    return errSecParam;
  }
  return withStore(security::KeychainOperation::Add, [&] {
    std::vector<Item> items;
    if (OSStatus s = loadStore(cls, &items); s != errSecSuccess) return s;
    for (const auto& existing : items) {
      if (samePrimaryKey(cls, existing, item)) return errSecDuplicateItem;
    }
    items.push_back(std::move(item));
    return saveStore(cls, items);
  });
}

OSStatus SecItemCopyMatching(const Value& query, Value* result) {
  if (result) *result = Value();
  std::string cls;
  Value wanted;
  if (!queryClass(query, &cls)) {
    NSLog("Keychain: SecItemCopyMatching needs a known item class");
    return errSecParam;
  }
  if (!collectAttributes(query, &wanted)) return errSecParam;
  const bool all = query.value(kSecMatchLimit, Value()) == Value(kSecMatchLimitAll);
  const bool withData = flag(query, kSecReturnData);
  const bool withAttributes = flag(query, kSecReturnAttributes);
  return withStore(security::KeychainOperation::CopyMatching, [&] {
    std::vector<Item> items;
    if (OSStatus s = loadStore(cls, &items); s != errSecSuccess) return s;
    Value found = Value::array();
    for (const auto& item : items) {
      if (!matches(item, wanted)) continue;
      found.push_back(describe(cls, item, withAttributes, withData));
      if (!all) break;
    }
    if (found.empty()) return errSecItemNotFound;
    if (result && (withData || withAttributes)) *result = all ? found : found[0];
    return errSecSuccess;
  });
}

OSStatus SecItemUpdate(const Value& query, const Value& attributesToUpdate) {
  std::string cls;
  Value wanted, changes;
  if (!queryClass(query, &cls) || !attributesToUpdate.is_object()) {
    NSLog("Keychain: SecItemUpdate needs a known item class and an attribute dictionary");
    return errSecParam;
  }
  if (auto c = attributesToUpdate.find(kSecClass); c != attributesToUpdate.end() && *c != Value(cls)) {
    NSLog("Keychain: SecItemUpdate cannot change an item's class");
    return errSecParam;
  }
  if (!collectAttributes(query, &wanted) || !collectAttributes(attributesToUpdate, &changes)) return errSecParam;
  Bytes newData;
  const auto dataIt = attributesToUpdate.find(kSecValueData);
  const bool changesData = dataIt != attributesToUpdate.end();
  if (changesData && !dataValue(*dataIt, &newData)) {
    NSLog("Keychain: SecItemUpdate: the item's data must be data or a string");
    return errSecParam;
  }
  return withStore(security::KeychainOperation::Update, [&] {
    std::vector<Item> items;
    if (OSStatus s = loadStore(cls, &items); s != errSecSuccess) return s;
    std::vector<bool> changed(items.size(), false);
    for (size_t i = 0; i < items.size(); ++i) {
      if (!matches(items[i], wanted)) continue;
      changed[i] = true;
      for (auto it = changes.begin(); it != changes.end(); ++it) items[i].attributes[it.key()] = it.value();
      if (changesData) items[i].data = newData;
    }
    bool any = false;
    for (bool c : changed) any = any || c;
    if (!any) return errSecItemNotFound;
    // An update must not make two items the same; nothing is written then.
    for (size_t i = 0; i < items.size(); ++i) {
      if (!changed[i]) continue;
      for (size_t j = 0; j < items.size(); ++j) {
        if (j != i && samePrimaryKey(cls, items[i], items[j])) return errSecDuplicateItem;
      }
    }
    return saveStore(cls, items);
  });
}

OSStatus SecItemDelete(const Value& query) {
  std::string cls;
  Value wanted;
  if (!queryClass(query, &cls)) {
    NSLog("Keychain: SecItemDelete needs a known item class");
    return errSecParam;
  }
  if (!collectAttributes(query, &wanted)) return errSecParam;
  return withStore(security::KeychainOperation::Delete, [&] {
    std::vector<Item> items;
    if (OSStatus s = loadStore(cls, &items); s != errSecSuccess) return s;
    const size_t before = items.size();
    std::erase_if(items, [&](const Item& item) { return matches(item, wanted); });
    if (items.size() == before) return errSecItemNotFound;
    return saveStore(cls, items);
  });
}

namespace security {

void injectKeychainFailure(KeychainOperation op, OSStatus status, int count) {
  std::lock_guard<std::mutex> lock(keychainMutex());
  if (count <= 0 || status == errSecSuccess) {
    failures().erase(op);
    return;
  }
  failures()[op] = Failure{status, count};
}

void clearKeychainFailures() {
  std::lock_guard<std::mutex> lock(keychainMutex());
  failures().clear();
}

}  // namespace security
