#pragma once
// The array form of the sorted dictionary: two parallel lists, searched linearly, copied whole on
// every modification. The cluster never makes one of more than 25 entries; the 26th key moves the
// map to the tree form, which never turns back into an array.
#include <concepts>

#include "sdk/database/core/FImmutableSortedDictionary.h"

// Hands out the keys of a key list from a start position, forward or backward. Shares the list.
template <typename K>
class FArraySortedDictionaryEnumerator : public NSEnumerator<K> {
 public:
  FArraySortedDictionaryEnumerator(std::shared_ptr<const std::vector<K>> keys, int64_t startPos,
                                   bool isReverse)
      : pos_(startPos), reverse_(isReverse), keys_(std::move(keys)) {}

  std::optional<K> nextObject() override {
    if (pos_ < 0 || pos_ >= static_cast<int64_t>(keys_->size())) return std::nullopt;
    const K& key = (*keys_)[static_cast<size_t>(pos_)];
    pos_ += reverse_ ? -1 : 1;
    return key;
  }

 private:
  int64_t pos_;
  bool reverse_;
  std::shared_ptr<const std::vector<K>> keys_;
};

template <typename K, typename V>
class FArraySortedDictionary : public FImmutableSortedDictionary<K, V> {
 public:
  using Base = FImmutableSortedDictionary<K, V>;
  using typename Base::Block;
  using typename Base::Comparator;
  using typename Base::ComparatorRef;
  using typename Base::KeyEnumerator;
  using typename Base::Ref;
  using Base::kNotFound;

  explicit FArraySortedDictionary(ComparatorRef comparator)
      : comparator_(std::move(comparator)),
        keys_(std::make_shared<const std::vector<K>>()),
        values_(std::make_shared<const std::vector<V>>()) {}
  // Stores both lists unchanged; the caller guarantees they are sorted, of equal length and of
  // at most 25 entries.
  FArraySortedDictionary(ComparatorRef comparator, std::shared_ptr<const std::vector<K>> keys,
                         std::shared_ptr<const std::vector<V>> values)
      : comparator_(std::move(comparator)), keys_(std::move(keys)), values_(std::move(values)) {}

  template <typename Map>
  static Ref fromDictionary(const Map& map, Comparator comparator) {
    auto entries = Base::sortedEntries(map, comparator);
    return fromSortedEntries(std::move(entries), std::move(comparator));
  }

  static Ref fromSortedEntries(std::vector<std::pair<K, V>> entries, Comparator comparator) {
    auto keys = std::make_shared<std::vector<K>>();
    auto values = std::make_shared<std::vector<V>>();
    keys->reserve(entries.size());
    values->reserve(entries.size());
    for (auto& [k, v] : entries) {
      keys->push_back(std::move(k));
      values->push_back(std::move(v));
    }
    return std::make_shared<const FArraySortedDictionary>(
        std::make_shared<const Comparator>(std::move(comparator)), std::move(keys), std::move(values));
  }

  int64_t findKey(const K& key) const {
    const auto& keys = *keys_;
    const auto& cmp = *comparator_;
    for (size_t i = 0; i < keys.size(); ++i) {
      int r = cmp(key, keys[i]);
      if (r == 0) return static_cast<int64_t>(i);
      if (r < 0) return kNotFound;
    }
    return kNotFound;
  }

  int64_t findInsertPositionForKey(const K& key) const {
    const auto& keys = *keys_;
    const auto& cmp = *comparator_;
    size_t i = 0;
    while (i < keys.size() && cmp(keys[i], key) < 0) ++i;
    return static_cast<int64_t>(i);
  }

  Ref insertKey(const K& key, const V& value) const override {
    int64_t found = findKey(key);
    if (found != kNotFound) {
      auto values = std::make_shared<std::vector<V>>(*values_);
      (*values)[static_cast<size_t>(found)] = value;
      // A new value under the very same key leaves the key list as it is: it is shared, not copied.
      if constexpr (std::equality_comparable<K>) {
        if ((*keys_)[static_cast<size_t>(found)] == key) {
          return std::make_shared<const FArraySortedDictionary>(comparator_, keys_, std::move(values));
        }
      }
      auto keys = std::make_shared<std::vector<K>>(*keys_);
      (*keys)[static_cast<size_t>(found)] = key;
      return std::make_shared<const FArraySortedDictionary>(comparator_, std::move(keys),
                                                            std::move(values));
    }
    if (count() >= Base::kArrayToTreeThreshold) {
      std::vector<std::pair<K, V>> entries;
      entries.reserve(keys_->size() + 1);
      for (size_t i = 0; i < keys_->size(); ++i) entries.emplace_back((*keys_)[i], (*values_)[i]);
      entries.emplace_back(key, value);
      return FTreeSortedDictionary<K, V>::fromDictionary(entries, *comparator_);
    }
    auto pos = static_cast<size_t>(findInsertPositionForKey(key));
    auto keys = std::make_shared<std::vector<K>>();
    auto values = std::make_shared<std::vector<V>>();
    keys->reserve(keys_->size() + 1);
    values->reserve(keys_->size() + 1);
    keys->insert(keys->end(), keys_->begin(), keys_->begin() + pos);
    keys->push_back(key);
    keys->insert(keys->end(), keys_->begin() + pos, keys_->end());
    values->insert(values->end(), values_->begin(), values_->begin() + pos);
    values->push_back(value);
    values->insert(values->end(), values_->begin() + pos, values_->end());
    return std::make_shared<const FArraySortedDictionary>(comparator_, std::move(keys),
                                                          std::move(values));
  }

  Ref removeKey(const K& key) const override {
    int64_t found = findKey(key);
    if (found == kNotFound) return this->self();
    auto keys = std::make_shared<std::vector<K>>(*keys_);
    auto values = std::make_shared<std::vector<V>>(*values_);
    keys->erase(keys->begin() + found);
    values->erase(values->begin() + found);
    return std::make_shared<const FArraySortedDictionary>(comparator_, std::move(keys),
                                                          std::move(values));
  }

  std::optional<V> get(const K& key) const override {
    int64_t found = findKey(key);
    if (found == kNotFound) return std::nullopt;
    return (*values_)[static_cast<size_t>(found)];
  }

  // The list of values is made unconst by every modification (the empty lists hold no value).
  const V* lookupOwned(const K& key) const override {
    if (values_.use_count() != 1) return nullptr;
    return lookup(key);
  }

  const V* lookup(const K& key) const override {
    int64_t found = findKey(key);
    if (found == kNotFound) return nullptr;
    return &(*values_)[static_cast<size_t>(found)];
  }

  std::optional<K> getPredecessorKey(const K& key) const override {
    int64_t found = findKey(key);
    if (found == kNotFound) {
      NSException::raise(NSInternalInconsistencyException,
                         "Can't get predecessor key for non-existent key");
    }
    if (found == 0) return std::nullopt;
    return (*keys_)[static_cast<size_t>(found - 1)];
  }

  bool isEmpty() const override { return keys_->empty(); }
  int32_t count() const override { return static_cast<int32_t>(keys_->size()); }
  std::optional<K> minKey() const override {
    if (keys_->empty()) return std::nullopt;
    return keys_->front();
  }
  std::optional<K> maxKey() const override {
    if (keys_->empty()) return std::nullopt;
    return keys_->back();
  }

  void enumerateKeysAndObjectsUsingBlock(const Block& block) const override {
    enumerateKeysAndObjectsReverse(false, block);
  }
  void enumerateKeysAndObjectsReverse(bool reverse, const Block& block) const override {
    bool stop = false;
    const auto n = static_cast<int64_t>(keys_->size());
    for (int64_t j = 0; j < n; ++j) {
      auto i = static_cast<size_t>(reverse ? n - 1 - j : j);
      block((*keys_)[i], (*values_)[i], &stop);
      if (stop) return;
    }
  }

  bool contains(const K& key) const override { return findKey(key) != kNotFound; }

  KeyEnumerator keyEnumerator() const override {
    return std::make_shared<FArraySortedDictionaryEnumerator<K>>(keys_, 0, false);
  }
  std::pair<const K*, const V*> entryAfter(const K& bound, bool reverse) const override {
    const auto& keys = *keys_;
    const auto& cmp = *comparator_;
    if (reverse) {
      for (size_t i = keys.size(); i-- > 0;) {
        if (cmp(keys[i], bound) < 0) return {&keys[i], &(*values_)[i]};
      }
    } else {
      for (size_t i = 0; i < keys.size(); ++i) {
        if (cmp(keys[i], bound) > 0) return {&keys[i], &(*values_)[i]};
      }
    }
    return {nullptr, nullptr};
  }

  KeyEnumerator keyEnumeratorFrom(const K& key) const override {
    return std::make_shared<FArraySortedDictionaryEnumerator<K>>(keys_, findInsertPositionForKey(key),
                                                                 false);
  }
  KeyEnumerator reverseKeyEnumerator() const override {
    return std::make_shared<FArraySortedDictionaryEnumerator<K>>(
        keys_, static_cast<int64_t>(keys_->size()) - 1, true);
  }
  KeyEnumerator reverseKeyEnumeratorFrom(const K& key) const override {
    int64_t p = findInsertPositionForKey(key);
    if (p == static_cast<int64_t>(keys_->size()) ||
        (*comparator_)((*keys_)[static_cast<size_t>(p)], key) != 0) {
      p -= 1;
    }
    return std::make_shared<FArraySortedDictionaryEnumerator<K>>(keys_, p, true);
  }

  const ComparatorRef& comparator() const override { return comparator_; }
  const std::vector<K>& keys() const { return *keys_; }
  const std::vector<V>& values() const { return *values_; }

 private:
  ComparatorRef comparator_;
  std::shared_ptr<const std::vector<K>> keys_;
  std::shared_ptr<const std::vector<V>> values_;
};
