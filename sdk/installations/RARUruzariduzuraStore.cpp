#include "sdk/installations/RARUruzariduzuraStore.h"

#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

RARUruzariduzuraStore::RARUruzariduzuraStore(std::shared_ptr<ZODKeychainStorage> secureStorage,
                                             std::optional<std::string> accessGroup)
    : secureStorage_(std::move(secureStorage)),
      accessGroup_(std::move(accessGroup)),
      queue_(DispatchQueue::serial(kRARUruzariduzuraStoreQueueLabel)),
      userDefaults_(std::make_shared<ZODUserDefaults>(
          accessGroup_ && !accessGroup_->empty() ? *accessGroup_ : kRARUruzariduzuraUserDefaultsSuite)) {
  RARUruzariduzuraStoredItem::registerCodingClasses();
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraStore::installationForAppID(
    const std::string& appID, const std::string& appName) {
  auto self = shared_from_this();
  const std::string key = RARUruzariduzuraItem::identifierWithAppID(appID, appName);
  return installationExistsForAppID(appID, appName)
      ->then([self, key](const NSNull&) {
        return self->secureStorage_->getObjectForKey(
            key, {RARUruzariduzuraStoredItem::kClassName, RARUruzariduzuraStoredAuthToken::kClassName},
            self->accessGroup_);
      })
      ->then([appID, appName](const NSCodingRef& object) -> ZEZResult<RARUruzariduzuraItemRef> {
        auto stored = std::dynamic_pointer_cast<RARUruzariduzuraStoredItem>(object);
        if (!stored) return RARUruzariduzuraErrorUtil::installationItemNotFoundForAppID(appID, appName);
        auto item = std::make_shared<RARUruzariduzuraItem>(appID, appName);
        item->updateWithStoredItem(*stored);
        return item;
      });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraStore::saveInstallation(const RARUruzariduzuraItemRef& item) {
  auto self = shared_from_this();
  const std::string key = item->identifier();
  return secureStorage_->setObject(item->storedItem(), key, accessGroup_)
      ->then([self, key](const NSNull&) { return self->setInstallationExists(true, key); });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraStore::removeInstallationForAppID(const std::string& appID,
                                                                        const std::string& appName) {
  auto self = shared_from_this();
  const std::string key = RARUruzariduzuraItem::identifierWithAppID(appID, appName);
  return secureStorage_->removeObjectForKey(key, accessGroup_)->then([self, key](const NSNull&) {
    return self->setInstallationExists(false, key);
  });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraStore::installationExistsForAppID(const std::string& appID,
                                                                        const std::string& appName) {
  auto defaults = userDefaults_;
  const std::string key = RARUruzariduzuraItem::identifierWithAppID(appID, appName);
  return ZEZPromise<NSNull>::onQueueDo(queue_, [defaults, key, appID, appName]() -> ZEZResult<NSNull> {
    if (defaults->objectForKey(key)) return NSNull{};
    return RARUruzariduzuraErrorUtil::installationItemNotFoundForAppID(appID, appName);
  });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraStore::setInstallationExists(bool exists,
                                                                   const std::string& identifier) {
  auto defaults = userDefaults_;
  return ZEZPromise<NSNull>::onQueueDo(queue_, [defaults, exists, identifier]() -> ZEZResult<NSNull> {
    if (exists) {
      defaults->setBool(true, identifier);
    } else {
      defaults->removeObjectForKey(identifier);
    }
    return NSNull{};
  });
}
