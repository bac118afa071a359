#include "sdk/utilities/ZODKeychainStorage.h"

#include "sdk/utilities/ZODKeychainUtils.h"

std::shared_ptr<ZODKeychainStorage> ZODKeychainStorage::create(std::string service) {
  return std::make_shared<ZODKeychainStorage>(std::move(service));
}

ZODKeychainStorage::ZODKeychainStorage(std::string service)
    : service_(std::move(service)),
      keychainQueue_(DispatchQueue::serial("com.zod.KeychainStorage.Keychain")),
      cacheQueue_(DispatchQueue::serial("com.zod.KeychainStorage.InMemoryCache")) {}

Value ZODKeychainStorage::keychainQueryWithKey(const std::string& key,
                                               const std::optional<std::string>& accessGroup) const {
  Value query = Value::object();
  query[kSecClass] = kSecClassGenericPassword;
  query[kSecAttrService] = service_;
  query[kSecAttrAccount] = key;
  if (accessGroup && !accessGroup->empty()) query[kSecAttrAccessGroup] = *accessGroup;
  return query;
}

NSCodingRef ZODKeychainStorage::cachedObject(const std::string& key) {
  for (auto it = cache_.begin(); it != cache_.end(); ++it) {
    if (it->first == key) {
      cache_.splice(cache_.begin(), cache_, it);
      return cache_.front().second;
    }
  }
  return nullptr;
}

void ZODKeychainStorage::cacheObject(const std::string& key, const NSCodingRef& object) {
  removeCachedObject(key);
  if (!object) return;
  cache_.emplace_front(key, object);
  while (cache_.size() > kCacheCountLimit) cache_.pop_back();
}

void ZODKeychainStorage::removeCachedObject(const std::string& key) {
  cache_.remove_if([&](const auto& entry) { return entry.first == key; });
}

ZEZPromiseRef<NSCodingRef> ZODKeychainStorage::getObjectForKey(
    const std::string& key, const std::set<std::string>& objectClasses,
    const std::optional<std::string>& accessGroup) {
  auto self = shared_from_this();
  auto cached = ZEZPromise<NSCodingRef>::onQueueDo(
      cacheQueue_, [self, key]() -> ZEZResult<NSCodingRef> { return self->cachedObject(key); });
  return cached->onQueueThen(keychainQueue_, [self, key, objectClasses, accessGroup](
                                                 const NSCodingRef& cachedObject)
                                                 -> ZEZResult<NSCodingRef> {
    if (cachedObject) return cachedObject;
    NSErrorRef error;
    auto data = ZODKeychainUtils::getItemWithQuery(self->keychainQueryWithKey(key, accessGroup),
                                                   &error);
    if (error) return error;
    if (!data) return NSCodingRef();
    NSErrorRef decodeError;
    NSCodingRef object = NSKeyedUnarchiver::unarchivedObjectOfClasses(objectClasses, *data,
                                                                      &decodeError);
    if (!object) {
      return decodeError ? decodeError
                         : NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError);
    }
    // Cache it, then hand it over.
    return ZEZPromise<NSCodingRef>::onQueueDo(
        self->cacheQueue_, [self, key, object]() -> ZEZResult<NSCodingRef> {
          self->cacheObject(key, object);
          return object;
        });
  });
}

ZEZPromiseRef<NSNull> ZODKeychainStorage::setObject(const NSCodingRef& object,
                                                    const std::string& key,
                                                    const std::optional<std::string>& accessGroup) {
  auto self = shared_from_this();
  if (!object) {
    return ZEZPromise<NSNull>::resolvedWith(NSError::errorWithDomain(
        NSCocoaErrorDomain, NSCoderValueNotFoundError,
        Value{{NSLocalizedDescriptionKey, "No object to store in the keychain."}}));
  }
  auto cached = ZEZPromise<NSNull>::onQueueDo(cacheQueue_, [self, key, object] {
    self->cacheObject(key, object);
    return NSNull{};
  });
  return cached->onQueueThen(keychainQueue_, [self, key, object, accessGroup](const NSNull&)
                                                 -> ZEZResult<NSNull> {
    NSErrorRef error;
    auto data = NSKeyedArchiver::archivedDataWithRootObject(*object, &error);
    if (data && ZODKeychainUtils::setItem(*data, self->keychainQueryWithKey(key, accessGroup),
                                          &error)) {
      return NSNull{};
    }
    if (!error) error = NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError);
    // An object that never reached the keychain must not be served from the cache as if stored.
    return ZEZPromise<NSNull>::onQueueDo(self->cacheQueue_,
                                         [self, key, object, error]() -> ZEZResult<NSNull> {
                                           if (self->cachedObject(key) == object) {
                                             self->removeCachedObject(key);
                                           }
                                           return error;
                                         });
  });
}

ZEZPromiseRef<NSNull> ZODKeychainStorage::removeObjectForKey(
    const std::string& key, const std::optional<std::string>& accessGroup) {
  auto self = shared_from_this();
  auto removed = ZEZPromise<NSNull>::onQueueDo(cacheQueue_, [self, key] {
    self->removeCachedObject(key);
    return NSNull{};
  });
  return removed->onQueueThen(keychainQueue_, [self, key, accessGroup](const NSNull&)
                                                  -> ZEZResult<NSNull> {
    NSErrorRef error;
    if (!ZODKeychainUtils::removeItemWithQuery(self->keychainQueryWithKey(key, accessGroup),
                                               &error)) {
      return error;
    }
    return NSNull{};
  });
}
