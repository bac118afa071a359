#pragma once
// A keychain store of archived objects for one service, with a small in-memory cache. Keychain
// work runs on the serial queue "com.zod.KeychainStorage.Keychain", the cache on
// "com.zod.KeychainStorage.InMemoryCache".
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "sdk/promises/ZEZPromise.h"

class ZODKeychainStorage : public std::enable_shared_from_this<ZODKeychainStorage> {
 public:
  static constexpr size_t kCacheCountLimit = 5;

  static std::shared_ptr<ZODKeychainStorage> create(std::string service);

  // The object for the key: the cached one, else the item's data unarchived with the allowed
  // classes (then cached). Fulfils with null when there is no item; rejects with the keychain or
  // unarchiving error.
  ZEZPromiseRef<NSCodingRef> getObjectForKey(const std::string& key,
                                             const std::set<std::string>& objectClasses,
                                             const std::optional<std::string>& accessGroup);
  // Caches the object, archives it and adds or updates the item.
  ZEZPromiseRef<NSNull> setObject(const NSCodingRef& object, const std::string& key,
                                  const std::optional<std::string>& accessGroup);
  // Removes the cached object and the item; a missing item is no error.
  ZEZPromiseRef<NSNull> removeObjectForKey(const std::string& key,
                                           const std::optional<std::string>& accessGroup);

  explicit ZODKeychainStorage(std::string service);

 private:
  Value keychainQueryWithKey(const std::string& key,
                             const std::optional<std::string>& accessGroup) const;
  // The cache; touched only on the cache queue.
  NSCodingRef cachedObject(const std::string& key);
  void cacheObject(const std::string& key, const NSCodingRef& object);
  void removeCachedObject(const std::string& key);

  std::string service_;
  DispatchQueueRef keychainQueue_;
  DispatchQueueRef cacheQueue_;
  std::list<std::pair<std::string, NSCodingRef>> cache_;  // most recently used first
};
