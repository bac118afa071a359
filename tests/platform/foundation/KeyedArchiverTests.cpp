#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <random>

#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/PlistValue.h"
#include "tests/platform/foundation/PlistBuilders.h"

namespace {

struct Node : NSCoding {
  std::string name;
  int64_t count = 0;
  double scale = 0;
  bool visible = false;
  double created = 0;
  Bytes blob;
  Value extra;
  std::shared_ptr<Node> child;
  std::vector<std::shared_ptr<Node>> children;
  std::string storedClass = "Test.Node";

  std::string className() const override { return storedClass; }
  void encodeWithCoder(NSCoder& c) const override {
    c.encodeString(name, "name");
    c.encodeInteger(count, "count");
    c.encodeDouble(scale, "scale");
    c.encodeBool(visible, "visible");
    c.encodeDate(created, "created");
    c.encodeData(blob, "blob");
    c.encodeValue(extra, "$extra");
    c.encodeObject(child.get(), "child");
    std::vector<const NSCoding*> list;
    for (const auto& n : children) list.push_back(n.get());
    c.encodeObjectList(list, "children");
  }
  static NSCodingRef decode(NSCoder& c) {
    auto n = std::make_shared<Node>();
    auto name = c.decodeString("name");
    auto count = c.decodeInteger("count");
    if (!name || !count) return nullptr;
    n->name = *name;
    n->count = *count;
    n->scale = c.decodeDouble("scale").value_or(0);
    n->visible = c.decodeBool("visible").value_or(false);
    n->created = c.decodeDate("created").value_or(0);
    n->blob = c.decodeData("blob").value_or(Bytes{});
    n->extra = c.decodeValue("$extra").value_or(Value());
    n->child = std::dynamic_pointer_cast<Node>(c.decodeObject("child"));
    if (auto list = c.decodeObjectList("children"))
      for (auto& item : *list) n->children.push_back(std::dynamic_pointer_cast<Node>(item));
    return n;
  }
};

struct Registration {
  Registration() { NSRegisterCodingClass("Test.Node", &Node::decode); }
} registration;

const std::set<std::string> kAllowed = {"Test.Node"};

std::shared_ptr<Node> sample() {
  auto root = std::make_shared<Node>();
  root->name = "root ✓";
  root->count = -42;
  root->scale = 1.5;
  root->visible = true;
  root->created = 1700000000.5;
  root->blob = {0, 1, 255};
  root->extra = {{"list", Value::array({1, "two", 3.5, nullptr})}, {"flag", false}};
  root->child = std::make_shared<Node>();
  root->child->name = "child";
  root->child->count = 1;
  for (int i = 0; i < 3; ++i) {
    auto n = std::make_shared<Node>();
    n->name = "item" + std::to_string(i);
    n->count = i;
    root->children.push_back(n);
  }
  root->children.push_back(root->child);  // the same object twice
  return root;
}

Bytes archive(const NSCoding& root) {
  NSErrorRef error;
  auto data = NSKeyedArchiver::archivedDataWithRootObject(root, &error);
  EXPECT_TRUE(data) << (error ? error->description() : "");
  EXPECT_FALSE(error);
  return data.value_or(Bytes{});
}

void expectRefused(const Bytes& data, const std::string& why) {
  NSErrorRef error;
  auto obj = NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, data, &error);
  EXPECT_FALSE(obj) << why;
  ASSERT_TRUE(error) << why;
  EXPECT_EQ(error->domain(), NSCocoaErrorDomain) << why;
  EXPECT_EQ(error->code(), NSCoderReadCorruptError) << why;
}

}  // namespace

TEST(KeyedArchiver, RoundTripKeepsTypesNestingAndSharing) {
  const Bytes data = archive(*sample());
  ASSERT_GT(data.size(), 8u);
  EXPECT_EQ(std::string(data.begin(), data.begin() + 8), "bplist00");
  NSErrorRef error;
  auto decoded = std::dynamic_pointer_cast<Node>(NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, data, &error));
  ASSERT_TRUE(decoded) << (error ? error->description() : "");
  EXPECT_FALSE(error);
  EXPECT_EQ(decoded->name, "root ✓");
  EXPECT_EQ(decoded->count, -42);
  EXPECT_DOUBLE_EQ(decoded->scale, 1.5);
  EXPECT_TRUE(decoded->visible);
  EXPECT_NEAR(decoded->created, 1700000000.5, 1e-6);
  EXPECT_EQ(decoded->blob, (Bytes{0, 1, 255}));
  EXPECT_EQ(decoded->extra, sample()->extra);
  EXPECT_TRUE(decoded->extra["list"][2].is_number_float());
  ASSERT_TRUE(decoded->child);
  EXPECT_EQ(decoded->child->name, "child");
  ASSERT_EQ(decoded->children.size(), 4u);
  EXPECT_EQ(decoded->children[2]->name, "item2");
  EXPECT_EQ(decoded->children[3], decoded->child);  // one object, decoded once
  EXPECT_FALSE(decoded->children[0]->child);
}

TEST(KeyedArchiver, StoredClassNamesCanBeMappedOnDecode) {
  auto old = sample();
  old->storedClass = "Legacy.Node";
  const Bytes data = archive(*old);
  NSErrorRef error;
  EXPECT_FALSE(NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, data, &error));
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedFailureReason().value_or("").find("Legacy.Node"), std::string::npos);
  auto mapped = NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, data, &error, {{"Legacy.Node", "Test.Node"}});
  ASSERT_TRUE(mapped);
  EXPECT_FALSE(error);
  EXPECT_EQ(std::dynamic_pointer_cast<Node>(mapped)->name, "root ✓");
}

TEST(KeyedArchiver, UnknownOrDisallowedClassesAreRefused) {
  auto root = sample();
  root->children[1]->storedClass = "Test.Stranger";  // nested deep in a list
  expectRefused(archive(*root), "a class outside the allowed list");
  NSErrorRef error;
  // Allowed but with no decoder registered.
  EXPECT_FALSE(NSKeyedUnarchiver::unarchivedObjectOfClasses({"Test.Node", "Test.Stranger"}, archive(*root), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), NSCoderReadCorruptError);
}

TEST(KeyedArchiver, AFieldOfTheWrongTypeIsRefused) {
  const Bytes good = archive(*sample());
  auto tree = ns::plistParse(std::string_view(reinterpret_cast<const char*>(good.data()), good.size()));
  ASSERT_TRUE(tree);
  // The root object's integer "count" becomes a double, then a reference to a string.
  const uint64_t rootUID = ns::plistUIDValue((*tree)["$top"]["root"]);
  Value asDouble = *tree;
  asDouble["$objects"][rootUID]["count"] = 3.0;
  auto bytes = ns::plistSerialize(asDouble);
  expectRefused(Bytes(bytes->begin(), bytes->end()), "a double where an integer belongs");

  Value asString = *tree;
  asString["$objects"][rootUID]["count"] = asString["$objects"][rootUID]["name"];
  bytes = ns::plistSerialize(asString);
  expectRefused(Bytes(bytes->begin(), bytes->end()), "a string where an integer belongs");

  Value objectIsString = *tree;
  objectIsString["$objects"][rootUID]["child"] = objectIsString["$objects"][rootUID]["name"];
  bytes = ns::plistSerialize(objectIsString);
  expectRefused(Bytes(bytes->begin(), bytes->end()), "a string where an object belongs");

  Value selfReference = *tree;
  selfReference["$objects"][rootUID]["child"] = ns::plistUID(rootUID);
  bytes = ns::plistSerialize(selfReference);
  expectRefused(Bytes(bytes->begin(), bytes->end()), "an object containing itself");

  Value outOfRange = *tree;
  outOfRange["$objects"][rootUID]["child"] = ns::plistUID(100000);
  bytes = ns::plistSerialize(outOfRange);
  expectRefused(Bytes(bytes->begin(), bytes->end()), "a reference outside the table");
}

TEST(KeyedArchiver, TruncatedBodiesAndGarbageAreRefusedWithoutCrashing) {
  const Bytes good = archive(*sample());
  for (size_t len = 0; len < good.size(); ++len)
    expectRefused(Bytes(good.begin(), good.begin() + static_cast<long>(len)), "truncated to " + std::to_string(len));

  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 300; ++round) {
    Bytes junk(static_cast<size_t>(1 + round % 200));
    for (auto& b : junk) b = static_cast<uint8_t>(byte(rng));
    if (round % 2 == 0 && junk.size() >= 8) std::copy_n("bplist00", 8, junk.begin());
    expectRefused(junk, "random bytes, round " + std::to_string(round));
  }
  // Single flipped bytes of a real archive: any outcome but a crash; a failure carries an error.
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes mutated = good;
    mutated[i] ^= 0x5A;
    NSErrorRef error;
    auto obj = NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, mutated, &error);
    EXPECT_TRUE(obj || error) << "flip at " << i;
  }
  // A plist that is not a keyed archive.
  auto plain = ns::plistSerialize(Value{{"a", 1}});
  expectRefused(Bytes(plain->begin(), plain->end()), "a plain dictionary");
}

TEST(KeyedArchiver, ListsReferencedOverAndOverAreCappedNotExpanded) {
  NSErrorRef error;
  EXPECT_FALSE(NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, plist_test::keyedArchiveListBomb("Test.Node", "name", 40), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), NSCoderReadCorruptError);
  EXPECT_NE(error->localizedFailureReason().value_or("").find("expands"), std::string::npos) << error->description();

  // A plain value that holds one list twice still decodes, both places equal.
  auto node = std::make_shared<Node>();
  node->name = "shared";
  const Value list = Value::array({1, "two", Value::array({3})});
  node->extra = {{"a", list}, {"b", list}};
  NSErrorRef decodeError;
  auto back = std::dynamic_pointer_cast<Node>(
      NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, archive(*node), &decodeError));
  ASSERT_TRUE(back) << decodeError->description();
  EXPECT_EQ(back->extra, node->extra);
}

TEST(KeyedArchiver, AnIntegerAboveTheSignedRangeIsRefusedNotWrapped) {
  const Bytes good = archive(*sample());
  auto tree = ns::plistParse(std::string_view(reinterpret_cast<const char*>(good.data()), good.size()));
  ASSERT_TRUE(tree);
  const uint64_t rootUID = ns::plistUIDValue((*tree)["$top"]["root"]);
  (*tree)["$objects"][rootUID]["count"] = std::numeric_limits<uint64_t>::max();
  auto bytes = ns::plistSerialize(*tree);
  ASSERT_TRUE(bytes);
  NSErrorRef error;
  EXPECT_FALSE(NSKeyedUnarchiver::unarchivedObjectOfClasses(kAllowed, Bytes(bytes->begin(), bytes->end()), &error))
      << "2^64-1 read as -1 would be written back as -1";
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedFailureReason().value_or("").find("signed 64-bit range"), std::string::npos);
}

namespace {

// A list of nodes whose damaged items are left out.
struct Shelf : NSCoding {
  std::vector<std::shared_ptr<Node>> items;
  std::vector<NSErrorRef> skipped;
  std::string className() const override { return "Test.Shelf"; }
  void encodeWithCoder(NSCoder& c) const override {
    std::vector<const NSCoding*> list;
    for (const auto& n : items) list.push_back(n.get());
    c.encodeObjectList(list, "items");
  }
  static NSCodingRef decode(NSCoder& c, bool skipping) {
    auto shelf = std::make_shared<Shelf>();
    auto list = skipping ? c.decodeObjectListSkippingDamaged("items", &shelf->skipped) : c.decodeObjectList("items");
    if (!list) return nullptr;
    for (auto& item : *list) shelf->items.push_back(std::dynamic_pointer_cast<Node>(item));
    return shelf;
  }
};

// The shelf of three nodes as an archive, with `edit` applied to its object table (the nodes'
// entries by their names).
Bytes shelfArchive(const std::function<void(Value& objects, const std::map<std::string, uint64_t>& nodes)>& edit) {
  Shelf shelf;
  for (const char* name : {"first", "second", "third"}) {
    shelf.items.push_back(std::make_shared<Node>());
    shelf.items.back()->name = name;
  }
  const Bytes good = archive(shelf);
  auto tree = ns::plistParse(std::string_view(reinterpret_cast<const char*>(good.data()), good.size()));
  Value& objects = (*tree)["$objects"];
  std::map<std::string, uint64_t> nodes;
  for (uint64_t i = 0; i < objects.size(); ++i) {
    const Value& entry = objects[i];
    if (entry.is_object() && entry.contains("name")) nodes[objects[ns::plistUIDValue(entry["name"])]] = i;
  }
  edit(objects, nodes);
  std::string why;
  auto bytes = ns::plistSerialize(*tree, true, &why);
  EXPECT_TRUE(bytes) << why;
  return bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{};
}

}  // namespace

TEST(KeyedArchiver, ADamagedItemOfASkippingListCostsOnlyItself) {
  const std::set<std::string> allowed = {"Test.Node", "Test.Shelf"};
  auto decode = [&](const Bytes& data, bool skipping, NSErrorRef* error) {
    NSRegisterCodingClass("Test.Shelf", [skipping](NSCoder& c) { return Shelf::decode(c, skipping); });
    return std::dynamic_pointer_cast<Shelf>(NSKeyedUnarchiver::unarchivedObjectOfClasses(allowed, data, error));
  };
  const Bytes damaged = shelfArchive([](Value& objects, const auto& nodes) {
    objects[nodes.at("second")]["count"] = "not a number";
  });
  NSErrorRef error;
  auto shelf = decode(damaged, true, &error);
  ASSERT_TRUE(shelf) << error->description();
  ASSERT_EQ(shelf->items.size(), 2u);
  EXPECT_EQ(shelf->items[0]->name, "first");
  EXPECT_EQ(shelf->items[1]->name, "third");
  ASSERT_EQ(shelf->skipped.size(), 1u);
  EXPECT_NE(shelf->skipped[0]->localizedFailureReason().value_or("").find("\"count\""), std::string::npos);
  EXPECT_FALSE(decode(damaged, false, &error)) << "the strict list fails as a whole";

  // Items that are no objects, or point outside the table, are left out the same way.
  const Bytes badReferences = shelfArchive([](Value& objects, const auto&) {
    for (auto& entry : objects)
      if (entry.is_object() && entry.contains("NS.objects") && entry["NS.objects"].size() == 3) {
        entry["NS.objects"][0] = ns::plistUID(0);
        entry["NS.objects"][2] = ns::plistUID(100000);
      }
  });
  shelf = decode(badReferences, true, &error);
  ASSERT_TRUE(shelf);
  ASSERT_EQ(shelf->items.size(), 1u);
  EXPECT_EQ(shelf->items[0]->name, "second");
  EXPECT_EQ(shelf->skipped.size(), 2u);

  // An item that expands past the decode's limit ends the whole decode: nothing after it could
  // be read.
  const Bytes bomb = shelfArchive([](Value& objects, const auto& nodes) {
    const uint64_t arrayClass = objects.size();
    objects.push_back({{"$classname", "NSArray"}, {"$classes", Value::array({"NSArray", "NSObject"})}});
    const uint64_t first = objects.size();
    for (uint64_t level = 0; level < 40; ++level)
      objects.push_back({{"NS.objects", Value::array({ns::plistUID(first + level + 1), ns::plistUID(first + level + 1)})},
                         {"$class", ns::plistUID(arrayClass)}});
    objects.push_back("a leaf");
    objects[nodes.at("second")]["$$extra"] = ns::plistUID(first);
  });
  EXPECT_FALSE(decode(bomb, true, &error));
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedFailureReason().value_or("").find("expands"), std::string::npos);
}

namespace {

// The shelf archive's bytes with the entry of the node named `name` (its place among the list's
// objects) handed to `damage` along with the objects' layout.
Bytes damagedShelf(const Bytes& good, const std::string& name,
                   const std::function<void(Bytes& bytes, const plist_test::BinaryObjects& objects, uint64_t entry)>& damage) {
  const std::string_view view(reinterpret_cast<const char*>(good.data()), good.size());
  const plist_test::BinaryObjects objects(view);
  const auto table = objects.references(*objects.valueFor(objects.top(), "$objects"));
  for (uint64_t entry : table) {
    const auto nameRef = objects.valueFor(entry, "name");
    if (!nameRef || !objects.uid(*nameRef) || objects.text(table[*objects.uid(*nameRef)]) != name) continue;
    Bytes bytes = good;
    damage(bytes, objects, entry);
    return bytes;
  }
  ADD_FAILURE() << "no node named " << name;
  return good;
}

// Sets reference k of container i to `target`.
void setReference(Bytes& bytes, const plist_test::BinaryObjects& objects, uint64_t i, uint64_t k, uint64_t target) {
  const size_t at = objects.referenceOffset(i, k), n = objects.referenceSize();
  for (size_t b = 0; b < n; ++b) bytes[at + b] = static_cast<uint8_t>(target >> (8 * (n - 1 - b)));
}

}  // namespace

namespace {

// A shelf archive built object by object, whose list names `slots` entries of the object table
// that are all one text of `textBytes` bytes: small on disk, while every entry read is a copy.
Bytes shelfOfOneText(size_t slots, size_t textBytes) {
  using namespace plist_test;
  enum : size_t {
    kTop, kArchiverKey, kTopKey, kObjectsKey, kArchiver, kTopDict, kRootKey, kRootUID, kObjects, kNull, kShelf,
    kItemsKey, kListUID, kClassKey, kShelfClassUID, kShelfClass, kClassNameKey, kShelfName, kClassesKey, kNSObject,
    kShelfClasses, kList, kObjectsField, kItems, kListClassUID, kListClass, kArrayName, kArrayClasses, kFirstUID
  };
  auto uid = [](uint64_t u) {
    return u < 256 ? std::string{'\x80', static_cast<char>(u)}
                   : std::string{'\x81', static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
  };
  const size_t text = kFirstUID + slots;  // last, so that every other object starts early
  std::vector<std::string> o(text + 1);
  o[kTop] = marker(0xD, 3) + ref(kArchiverKey) + ref(kTopKey) + ref(kObjectsKey) + ref(kArchiver) + ref(kTopDict) +
            ref(kObjects);
  o[kArchiverKey] = oneByteString("$archiver");
  o[kTopKey] = oneByteString("$top");
  o[kObjectsKey] = oneByteString("$objects");
  o[kArchiver] = oneByteString("NSKeyedArchiver");
  o[kTopDict] = marker(0xD, 1) + ref(kRootKey) + ref(kRootUID);
  o[kRootKey] = oneByteString("root");
  o[kRootUID] = uid(1);
  // The table: $null, the shelf, its class, the list, its class, then the slots.
  o[kObjects] = marker(0xA, 5 + slots) + ref(kNull) + ref(kShelf) + ref(kShelfClass) + ref(kList) + ref(kListClass);
  for (size_t i = 0; i < slots; ++i) o[kObjects] += ref(text);
  o[kNull] = oneByteString("$null");
  o[kShelf] = marker(0xD, 2) + ref(kItemsKey) + ref(kClassKey) + ref(kListUID) + ref(kShelfClassUID);
  o[kItemsKey] = oneByteString("items");
  o[kListUID] = uid(3);
  o[kClassKey] = oneByteString("$class");
  o[kShelfClassUID] = uid(2);
  o[kShelfClass] = marker(0xD, 2) + ref(kClassNameKey) + ref(kClassesKey) + ref(kShelfName) + ref(kShelfClasses);
  o[kClassNameKey] = oneByteString("$classname");
  o[kShelfName] = oneByteString("Test.Shelf");
  o[kClassesKey] = oneByteString("$classes");
  o[kNSObject] = oneByteString("NSObject");
  o[kShelfClasses] = marker(0xA, 2) + ref(kShelfName) + ref(kNSObject);
  o[kList] = marker(0xD, 2) + ref(kObjectsField) + ref(kClassKey) + ref(kItems) + ref(kListClassUID);
  o[kObjectsField] = oneByteString("NS.objects");
  o[kItems] = marker(0xA, slots);
  for (size_t i = 0; i < slots; ++i) o[kItems] += ref(kFirstUID + i);
  o[kListClassUID] = uid(4);
  o[kListClass] = marker(0xD, 2) + ref(kClassNameKey) + ref(kClassesKey) + ref(kArrayName) + ref(kArrayClasses);
  o[kArrayName] = oneByteString("NSArray");
  o[kArrayClasses] = marker(0xA, 2) + ref(kArrayName) + ref(kNSObject);
  for (size_t i = 0; i < slots; ++i) o[kFirstUID + i] = uid(5 + i);
  o[text] = oneByteString(std::string(textBytes, 't'));
  const std::string bytes = bplist(o);
  return Bytes(bytes.begin(), bytes.end());
}

}  // namespace

// The objects of a binary archive are read as the decode reaches them: a damaged one fails what
// refers to it (in a skipping list, only that item), one nothing refers to costs nothing, and the
// limits of the whole list still hold for everything read.
TEST(KeyedArchiver, AnEntryTheListCannotReadFailsOnlyWhatRefersToIt) {
  const std::set<std::string> allowed = {"Test.Node", "Test.Shelf"};
  auto decode = [&](const Bytes& data, bool skipping, NSErrorRef* error) {
    NSRegisterCodingClass("Test.Shelf", [skipping](NSCoder& c) { return Shelf::decode(c, skipping); });
    return std::dynamic_pointer_cast<Shelf>(NSKeyedUnarchiver::unarchivedObjectOfClasses(allowed, data, error));
  };
  const Bytes good = shelfArchive([](Value&, const auto&) {});
  using Objects = plist_test::BinaryObjects;
  const struct {
    const char* what;
    std::function<void(Bytes&, const Objects&, uint64_t)> damage;
    const char* reason;
  } cases[] = {
      {"a key that is no text", [](Bytes& b, const Objects& o, uint64_t e) { setReference(b, o, e, 0, o.references(e).back()); },
       "a dictionary key is not a string"},
      {"one key twice", [](Bytes& b, const Objects& o, uint64_t e) { setReference(b, o, e, 1, o.references(e)[0]); },
       "one key twice"},
      {"an entry holding itself", [](Bytes& b, const Objects& o, uint64_t e) {
         const auto refs = o.references(e);
         setReference(b, o, e, refs.size() - 1, e);
       }, "contains itself"},
      {"a reference past the objects", [](Bytes& b, const Objects& o, uint64_t e) {
         const auto refs = o.references(e);
         setReference(b, o, e, refs.size() - 1, o.count());
       }, "outside the object table"},
  };
  for (const auto& c : cases) {
    const Bytes damaged = damagedShelf(good, "second", c.damage);
    NSErrorRef error;
    auto shelf = decode(damaged, true, &error);
    ASSERT_TRUE(shelf) << c.what << ": " << error->description();
    ASSERT_EQ(shelf->items.size(), 2u) << c.what;
    EXPECT_EQ(shelf->items[0]->name, "first");
    EXPECT_EQ(shelf->items[1]->name, "third");
    ASSERT_EQ(shelf->skipped.size(), 1u) << c.what;
    const std::string reason = shelf->skipped[0]->localizedFailureReason().value_or("");
    EXPECT_NE(reason.find("damaged"), std::string::npos) << c.what << ": " << reason;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    EXPECT_FALSE(decode(damaged, false, &error)) << c.what << ": the strict list fails as a whole";
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedFailureReason().value_or("").find(c.reason), std::string::npos) << c.what;
  }

  // A damaged entry that nothing refers to.
  const Bytes withSpare = shelfArchive([](Value& objects, const auto&) { objects.push_back({{"spare", 1}, {"other", 2}}); });
  const std::string_view view(reinterpret_cast<const char*>(withSpare.data()), withSpare.size());
  const Objects objects(view);
  const uint64_t spare = objects.references(*objects.valueFor(objects.top(), "$objects")).back();
  Bytes unreferenced = withSpare;
  setReference(unreferenced, objects, spare, 1, objects.references(spare)[0]);
  NSErrorRef error;
  auto shelf = decode(unreferenced, false, &error);
  ASSERT_TRUE(shelf) << error->description();
  EXPECT_EQ(shelf->items.size(), 3u);

  // One text behind many entries of the table, each an item of the list: every entry read is a
  // copy and counts, and the list is refused once the copies pass the limits.
  shelf = decode(shelfOfOneText(10, 1000), true, &error);
  ASSERT_TRUE(shelf) << error->description();
  EXPECT_TRUE(shelf->items.empty());
  EXPECT_EQ(shelf->skipped.size(), 10u);
  const Bytes spread = shelfOfOneText(2000, 65000);
  ASSERT_LT(spread.size(), 100000u);
  EXPECT_FALSE(decode(spread, true, &error));
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedFailureReason().value_or("").find("expands"), std::string::npos) << error->description();
}
