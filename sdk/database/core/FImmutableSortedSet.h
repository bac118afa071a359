#pragma once
// The persistent sorted set: a thin layer over FImmutableSortedDictionary whose keys are the
// members. Never changes after construction; members are ordered by the dictionary's comparator.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/database/core/FImmutableSortedDictionary.h"

template <typename T, typename V = FSetPlaceholder>
class FImmutableSortedSet : public std::enable_shared_from_this<FImmutableSortedSet<T, V>> {
 public:
  using Dictionary = FImmutableSortedDictionary<T, V>;
  using DictionaryRef = typename Dictionary::Ref;
  using Comparator = typename Dictionary::Comparator;
  using Ref = std::shared_ptr<const FImmutableSortedSet>;
  // (member, stop flag).
  using Block = std::function<void(const T&, bool* stop)>;

  // The set of the map's keys; the dictionary is built from the unchanged map, values included.
  template <typename Map>
  static Ref setWithKeysFromDictionary(const Map& map, Comparator comparator) {
    return std::make_shared<const FImmutableSortedSet>(
        Dictionary::fromDictionary(map, std::move(comparator)));
  }
  // The set of `members`, which the caller has sorted by `comparator` with no two alike.
  static Ref setWithSortedMembers(std::vector<T> members, Comparator comparator) {
    std::vector<std::pair<T, V>> entries;
    entries.reserve(members.size());
    for (T& member : members) entries.emplace_back(std::move(member), V{});
    return std::make_shared<const FImmutableSortedSet>(
        Dictionary::fromSortedEntries(std::move(entries), std::move(comparator)));
  }
  explicit FImmutableSortedSet(DictionaryRef dictionary) : dictionary_(std::move(dictionary)) {}

  bool contains(const T& member) const { return dictionary_->contains(member); }
  bool containsObject(const T& member) const { return contains(member); }

  // Every insert makes a new dictionary, so adding a present member still gives a new set.
  Ref addObject(const T& member) const {
    DictionaryRef d = dictionary_->insertKey(member, V{});
    if (d == dictionary_) return this->shared_from_this();
    return std::make_shared<const FImmutableSortedSet>(std::move(d));
  }
  // The receiver itself when `member` is not a member.
  Ref removeObject(const T& member) const {
    DictionaryRef d = dictionary_->removeObjectForKey(member);
    if (d == dictionary_) return this->shared_from_this();
    return std::make_shared<const FImmutableSortedSet>(std::move(d));
  }

  std::optional<T> firstObject() const { return dictionary_->minKey(); }
  std::optional<T> lastObject() const { return dictionary_->maxKey(); }
  // The member just before `member`; nullopt for the first. A non-member raises the dictionary's error.
  std::optional<T> predecessorEntry(const T& member) const {
    return dictionary_->getPredecessorKey(member);
  }
  // The first member after `bound` (the last before it, with `reverse`); `bound` need not be a
  // member. Null when there is none; the pointer lives as long as the set.
  const T* memberAfter(const T& bound, bool reverse) const { return dictionary_->entryAfter(bound, reverse).first; }
  uint64_t count() const { return static_cast<uint64_t>(dictionary_->count()); }
  bool isEmpty() const { return dictionary_->isEmpty(); }

  void enumerateObjectsUsingBlock(const Block& block) const { enumerateObjectsReverse(false, block); }
  void enumerateObjectsReverse(bool reverse, const Block& block) const {
    dictionary_->enumerateKeysAndObjectsReverse(
        reverse, [&block](const T& key, const V&, bool* stop) { block(key, stop); });
  }
  NSEnumeratorRef<T> objectEnumerator() const { return dictionary_->keyEnumerator(); }

  // "FImmutableSortedSet ( a, b )".
  std::string description() const {
    std::string out = "FImmutableSortedSet ( ";
    bool first = true;
    enumerateObjectsUsingBlock([&](const T& member, bool*) {
      if (!first) out += ", ";
      first = false;
      out += fobject::description(member);
    });
    out += " )";
    return out;
  }

  const DictionaryRef& dictionary() const { return dictionary_; }

 private:
  DictionaryRef dictionary_;
};
