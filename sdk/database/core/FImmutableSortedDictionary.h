#pragma once
// The persistent sorted map of the database client. It never changes after construction: every
// modifying operation returns a new dictionary (or the receiver itself when nothing changes), so
// any number of owners share one instance and older versions stay valid. Keys are ordered and
// found only by the comparator given at construction (-1, 0, 1), which every derived dictionary
// inherits. Small maps are two flat lists (FArraySortedDictionary, up to 25 entries); larger ones a
// persistent left-leaning red-black tree (FTreeSortedDictionary). Callers see only this interface.
//
// Instances must be owned by a std::shared_ptr (the factories below make them so), because an
// operation that changes nothing hands back the receiver itself.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FObjectTraits.h"
#include "sdk/database/core/NSEnumerator.h"

template <typename K, typename V>
class FArraySortedDictionary;
template <typename K, typename V>
class FTreeSortedDictionary;

template <typename K, typename V>
class FImmutableSortedDictionary
    : public std::enable_shared_from_this<FImmutableSortedDictionary<K, V>> {
 public:
  using Comparator = std::function<int(const K&, const K&)>;
  using ComparatorRef = std::shared_ptr<const Comparator>;
  using Ref = std::shared_ptr<const FImmutableSortedDictionary>;
  // (key, value, stop flag): setting *stop ends the enumeration right after this call.
  using Block = std::function<void(const K&, const V&, bool* stop)>;
  using KeyEnumerator = NSEnumeratorRef<K>;

  // The largest map kept in the array form; one more entry moves it to the tree form.
  static constexpr int32_t kArrayToTreeThreshold = 25;
  // Index result of the array form for an absent key.
  static constexpr int64_t kNotFound = INT64_MAX;

  virtual ~FImmutableSortedDictionary() = default;

  // An empty dictionary (always the array form).
  static Ref dictionaryWithComparator(Comparator comparator);
  // A sorted dictionary of the same entries as `map` (any range of key/value pairs); the tree
  // form for more than 25 entries. Two keys the comparator does not strictly order raise
  // NSInvalidArgumentException "Can't create FImmutableSortedDictionary with keys with same ordering!".
  template <typename Map>
  static Ref fromDictionary(const Map& map, Comparator comparator);
  // The dictionary of `entries`, which the caller has sorted by `comparator` with no two keys the
  // comparator does not strictly order: nothing is compared.
  static Ref fromSortedEntries(std::vector<std::pair<K, V>> entries, Comparator comparator);

  // The operations each representation supplies. Asked of the abstract base they raise
  // NSInternalInconsistencyException "You must override <name> in a subclass".
  virtual Ref insertKey(const K& key, const V& value) const { mustOverride("insertKey:withValue:"); }
  // insertKey, unless the key is there with a value `refuse` answers true for: then null, and
  // nothing is made.
  virtual Ref insertKeyUnless(const K& key, const V& value, const std::function<bool(const V&)>& refuse) const {
    if (const V* old = lookup(key); old && refuse(*old)) return nullptr;
    return insertKey(key, value);
  }
  // insertKeyUnless into the dictionary held by `slot`, in place where the slot is its only
  // reference (and the form supports it), otherwise by replacing the slot's dictionary with the
  // new one. NO, with nothing changed, when refused. For a dictionary that one owner keeps alone
  // and changes often: the pending writes.
  static bool insertKeyUnlessInPlace(Ref& slot, const K& key, const V& value,
                                     const std::function<bool(const V&)>& refuse) {
    if (slot.use_count() == 1 && slot->insertInPlaceUnless(key, value, refuse)) return true;
    Ref replaced = slot->insertKeyUnless(key, value, refuse);
    if (!replaced) return false;
    slot = std::move(replaced);
    return true;
  }
  // The value stored for key when the dictionary alone reaches it (no other dictionary shares the
  // part of it that holds the value), so that the holder of the only reference to the dictionary
  // may change it in place; otherwise null.
  virtual const V* lookupOwned(const K&) const { return nullptr; }
  virtual Ref removeKey(const K& key) const { mustOverride("removeKey:"); }
  virtual std::optional<V> get(const K& key) const { mustOverride("get:"); }
  // The value stored for key, or null: read in place, without a copy, while the dictionary lives.
  virtual const V* lookup(const K& key) const { mustOverride("lookup:"); }
  // The key just before `key` (which must be present); nullopt for the first key.
  virtual std::optional<K> getPredecessorKey(const K& key) const { mustOverride("getPredecessorKey:"); }
  // The entry whose key comes first after `bound` (last before it, with `reverse`), in one descent;
  // `bound` need not be a key here. {null, null} when there is none; the pointers live as long as
  // the dictionary.
  virtual std::pair<const K*, const V*> entryAfter(const K& bound, bool reverse) const {
    mustOverride("entryAfter:reverse:");
  }
  virtual bool isEmpty() const { mustOverride("isEmpty"); }
  virtual int32_t count() const { mustOverride("count"); }
  virtual std::optional<K> minKey() const { mustOverride("minKey"); }
  virtual std::optional<K> maxKey() const { mustOverride("maxKey"); }
  virtual void enumerateKeysAndObjectsUsingBlock(const Block& block) const {
    mustOverride("enumerateKeysAndObjectsUsingBlock:");
  }
  virtual void enumerateKeysAndObjectsReverse(bool reverse, const Block& block) const {
    mustOverride("enumerateKeysAndObjectsReverse:usingBlock:");
  }
  virtual bool contains(const K& key) const { mustOverride("contains:"); }
  virtual KeyEnumerator keyEnumerator() const { mustOverride("keyEnumerator"); }
  // Ascending from the first key not before `key`.
  virtual KeyEnumerator keyEnumeratorFrom(const K& key) const { mustOverride("keyEnumeratorFrom:"); }
  virtual KeyEnumerator reverseKeyEnumerator() const { mustOverride("reverseKeyEnumerator"); }
  // Descending from the last key not after `key`.
  virtual KeyEnumerator reverseKeyEnumeratorFrom(const K& key) const {
    mustOverride("reverseKeyEnumeratorFrom:");
  }
  virtual const ComparatorRef& comparator() const { mustOverride("comparator"); }

  // Shared by both forms.
  // Same count and, for every entry, the other's value is the same object or reports equal.
  // Comparators are not compared; an array and a tree with the same entries are equal.
  bool isEqual(const FImmutableSortedDictionary& other) const;
  uint64_t hash() const;
  // "{ k: v, k2: v2 }"; the empty dictionary gives "{  }".
  std::string description() const;
  Ref setObject(const V& value, const K& key) const { return insertKey(key, value); }
  Ref removeObjectForKey(const K& key) const { return removeKey(key); }
  std::optional<V> objectForKey(const K& key) const { return get(key); }

  // Sorts the entries of `map` ascending and checks that the comparator orders them strictly.
  template <typename Map>
  static std::vector<std::pair<K, V>> sortedEntries(const Map& map, const Comparator& comparator);

 protected:
  FImmutableSortedDictionary() = default;
  Ref self() const { return this->shared_from_this(); }
  // The insert of insertKeyUnlessInPlace, called only through the dictionary's only reference:
  // YES when done in place; NO when refused or not supported, with nothing changed either way.
  virtual bool insertInPlaceUnless(const K&, const V&, const std::function<bool(const V&)>&) const { return false; }

 private:
  [[noreturn]] static void mustOverride(const char* name) {
    NSException::raise(NSInternalInconsistencyException, "You must override %s in a subclass", name);
  }
};

#include "sdk/database/core/FArraySortedDictionary.h"
#include "sdk/database/core/FTreeSortedDictionary.h"

template <typename K, typename V>
typename FImmutableSortedDictionary<K, V>::Ref
FImmutableSortedDictionary<K, V>::dictionaryWithComparator(Comparator comparator) {
  return std::make_shared<const FArraySortedDictionary<K, V>>(
      std::make_shared<const Comparator>(std::move(comparator)));
}

template <typename K, typename V>
template <typename Map>
std::vector<std::pair<K, V>> FImmutableSortedDictionary<K, V>::sortedEntries(
    const Map& map, const Comparator& comparator) {
  std::vector<std::pair<K, V>> entries;
  for (const auto& [k, v] : map) entries.emplace_back(k, v);
  // A merge sort stays within bounds even when a caller's comparator is inconsistent.
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const auto& a, const auto& b) { return comparator(a.first, b.first) < 0; });
  for (size_t i = 1; i < entries.size(); ++i) {
    if (comparator(entries[i - 1].first, entries[i].first) != -1) {
      NSException::raise(NSInvalidArgumentException,
                         "Can't create FImmutableSortedDictionary with keys with same ordering!");
    }
  }
  return entries;
}

template <typename K, typename V>
template <typename Map>
typename FImmutableSortedDictionary<K, V>::Ref FImmutableSortedDictionary<K, V>::fromDictionary(
    const Map& map, Comparator comparator) {
  size_t n = 0;
  for (auto it = std::begin(map); it != std::end(map); ++it) ++n;
  if (n > static_cast<size_t>(kArrayToTreeThreshold)) {
    return FTreeSortedDictionary<K, V>::fromDictionary(map, std::move(comparator));
  }
  return FArraySortedDictionary<K, V>::fromDictionary(map, std::move(comparator));
}

template <typename K, typename V>
typename FImmutableSortedDictionary<K, V>::Ref FImmutableSortedDictionary<K, V>::fromSortedEntries(
    std::vector<std::pair<K, V>> entries, Comparator comparator) {
  if (entries.size() > static_cast<size_t>(kArrayToTreeThreshold)) {
    return FTreeSortedDictionary<K, V>::fromSortedEntries(entries, std::move(comparator));
  }
  return FArraySortedDictionary<K, V>::fromSortedEntries(std::move(entries), std::move(comparator));
}

template <typename K, typename V>
bool FImmutableSortedDictionary<K, V>::isEqual(const FImmutableSortedDictionary& other) const {
  if (this == &other) return true;
  if (count() != other.count()) return false;
  bool equal = true;
  enumerateKeysAndObjectsUsingBlock([&](const K& key, const V& value, bool* stop) {
    std::optional<V> theirs = other.get(key);
    if (!theirs || !fobject::isEqual(value, *theirs)) {
      equal = false;
      *stop = true;
    }
  });
  return equal;
}

template <typename K, typename V>
uint64_t FImmutableSortedDictionary<K, V>::hash() const {
  uint64_t h = 0;
  enumerateKeysAndObjectsUsingBlock([&](const K& key, const V& value, bool*) {
    h = (h * 31 + fobject::hash(key)) * 17 + fobject::hash(value);
  });
  return h;
}

template <typename K, typename V>
std::string FImmutableSortedDictionary<K, V>::description() const {
  std::string out = "{ ";
  bool first = true;
  enumerateKeysAndObjectsUsingBlock([&](const K& key, const V& value, bool*) {
    if (!first) out += ", ";
    first = false;
    out += fobject::description(key);
    out += ": ";
    out += fobject::description(value);
  });
  out += " }";
  return out;
}
