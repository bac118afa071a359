// Keyed archives from the keychain: decoded with a class that reads every kind of field (and a list
// whose damaged items are left out) and with the installation record's classes; whatever decodes
// is archived and decoded again.
#include <cstdlib>
#include <mutex>

#include "platform/foundation/NSKeyedArchiver.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"
#include "sdk/installations/RARUruzariduzuraItem.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Probe : NSCoding {
  static constexpr const char* kClassName = "FuzzProbe";
  std::optional<std::string> text;
  std::optional<int64_t> integer;
  std::optional<double> real, date;
  std::optional<bool> flag;
  std::optional<Bytes> bytes;
  std::optional<Value> plain;
  NSCodingRef child;
  std::vector<NSCodingRef> children;
  std::vector<NSCodingRef> kept;  // a list whose damaged items are left out

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& c) const override {
    if (text) c.encodeString(*text, "s");
    if (integer) c.encodeInteger(*integer, "i");
    if (real) c.encodeDouble(*real, "d");
    if (date) c.encodeDate(*date, "t");
    if (flag) c.encodeBool(*flag, "b");
    if (bytes) c.encodeData(*bytes, "data");
    if (plain && !plain->is_null()) c.encodeValue(*plain, "$v");
    c.encodeObject(child.get(), "o");
    std::vector<const NSCoding*> list;
    for (const auto& item : children) list.push_back(item.get());
    c.encodeObjectList(list, "list");
    std::vector<const NSCoding*> keptList;
    for (const auto& item : kept) keptList.push_back(item.get());
    c.encodeObjectList(keptList, "kept");
  }
  static NSCodingRef decode(NSCoder& c) {
    auto p = std::make_shared<Probe>();
    for (const char* key : {"s", "i", "d", "t", "b", "data", "$v", "o", "list", "missing"}) (void)c.kindForKey(key);
    p->text = c.decodeString("s");
    p->integer = c.decodeInteger("i");
    p->real = c.decodeDouble("d");
    p->date = c.decodeDate("t");
    p->flag = c.decodeBool("b");
    p->bytes = c.decodeData("data");
    p->plain = c.decodeValue("$v");
    p->child = c.decodeObject("o");
    if (auto list = c.decodeObjectList("list")) p->children = *list;
    std::vector<NSErrorRef> skipped;
    if (auto kept = c.decodeObjectListSkippingDamaged("kept", &skipped)) p->kept = *kept;
    for (const auto& e : skipped)
      if (!e) fuzzsupport::broken("an item left out without an error");
    if (c.error()) return nullptr;
    return p;
  }
};

const std::set<std::string>& allowed() {
  static const std::set<std::string> classes = {Probe::kClassName, RARUruzariduzuraStoredItem::kClassName,
                                                RARUruzariduzuraStoredAuthToken::kClassName,
                                                RARUruzariduzuraHTTPError::kClassName, "NSHTTPURLResponse"};
  return classes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::once_flag once;
  std::call_once(once, [] {
    NSRegisterCodingClass(Probe::kClassName, &Probe::decode);
    RARUruzariduzuraStoredItem::registerCodingClasses();
    RARUruzariduzuraHTTPError::registerCodingClasses();
  });
  const Bytes bytes(data, data + size);
  NSErrorRef error;
  NSCodingRef object = NSKeyedUnarchiver::unarchivedObjectOfClasses(allowed(), bytes, &error);
  // Either an object or an error, never both or neither.
  if (!object == !error) std::abort();
  if (!object) return 0;
  auto archived = NSKeyedArchiver::archivedDataWithRootObject(*object, &error);
  if (!archived) return 0;  // e.g. a value that nests too deeply to be written
  NSCodingRef again = NSKeyedUnarchiver::unarchivedObjectOfClasses(allowed(), *archived, &error);
  if (!again || again->className() != object->className()) std::abort();
  return 0;
}
