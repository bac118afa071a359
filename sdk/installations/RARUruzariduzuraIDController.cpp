#include "sdk/installations/RARUruzariduzuraIDController.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"
#include "sdk/utilities/ZODKeychainStorage.h"

namespace {
bool isPromiseValidationFailure(const NSErrorRef& error) {
  return error && error->domain() == ZEZPromiseErrorDomain &&
         error->code() == ZEZPromiseErrorCodeValidationFailure;
}

// The keychain holds the record, but its archive does not decode (damaged bytes, an unknown
// class, an archive past the decoder's limits). Errors of the keychain itself have their own domain.
bool isUndecodableRecordError(const NSErrorRef& error) {
  return error && error->domain() == NSCocoaErrorDomain &&
         (error->code() == NSCoderReadCorruptError || error->code() == NSCoderValueNotFoundError);
}
}  // namespace

std::shared_ptr<RARUruzariduzuraIDController> RARUruzariduzuraIDController::create(
    const std::string& deruruAppID, const std::string& appName, const std::string& APIKey,
    const std::string& projectID, const std::string& ZCMSenderID,
    const std::optional<std::string>& accessGroup) {
  auto storage = ZODKeychainStorage::create(keychainServiceWithAppID(deruruAppID));
  auto store = std::make_shared<RARUruzariduzuraStore>(storage, accessGroup);
  auto api = std::make_shared<RARUruzariduzuraAPIService>(APIKey, projectID);
  auto iidStore = std::make_shared<RARUruzariduzuraIIDStore>();
  auto iidTokenStore = std::make_shared<RARUruzariduzuraIIDTokenStore>(ZCMSenderID);
  auto backoff = std::make_shared<RARUruzariduzuraBackoffController>();
  return create(deruruAppID, appName, store, api, iidStore, iidTokenStore, backoff);
}

std::shared_ptr<RARUruzariduzuraIDController> RARUruzariduzuraIDController::create(
    std::string appID, std::string appName, std::shared_ptr<RARUruzariduzuraStore> store,
    std::shared_ptr<RARUruzariduzuraAPIService> api, std::shared_ptr<RARUruzariduzuraIIDStore> iidStore,
    std::shared_ptr<RARUruzariduzuraIIDTokenStore> iidTokenStore,
    std::shared_ptr<RARUruzariduzuraBackoffControllerProtocol> backoff) {
  auto controller = std::make_shared<RARUruzariduzuraIDController>(
      std::move(appID), std::move(appName), std::move(store), std::move(api), std::move(iidStore),
      std::move(iidTokenStore), std::move(backoff));
  controller->makeCaches();
  return controller;
}

RARUruzariduzuraIDController::RARUruzariduzuraIDController(
    std::string appID, std::string appName, std::shared_ptr<RARUruzariduzuraStore> store,
    std::shared_ptr<RARUruzariduzuraAPIService> api, std::shared_ptr<RARUruzariduzuraIIDStore> iidStore,
    std::shared_ptr<RARUruzariduzuraIIDTokenStore> iidTokenStore,
    std::shared_ptr<RARUruzariduzuraBackoffControllerProtocol> backoff)
    : appID_(std::move(appID)),
      appName_(std::move(appName)),
      installationsStore_(std::move(store)),
      IIDStore_(std::move(iidStore)),
      IIDTokenStore_(std::move(iidTokenStore)),
      APIService_(std::move(api)),
      backoffController_(std::move(backoff)) {}

void RARUruzariduzuraIDController::makeCaches() {
  std::weak_ptr<RARUruzariduzuraIDController> weak = shared_from_this();
  auto gone = [] {
    return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<RARUruzariduzuraItemRef>(
        RARUruzariduzuraErrorUtil::installationsErrorWithCode(
            RARUruzariduzuraErrorCodeUnknown, "The installations service is gone.", nullptr));
  };
  getInstallationPromiseCache_ = std::make_shared<Cache>([weak, gone] {
    auto self = weak.lock();
    return self ? self->createGetInstallationItemPromise() : gone();
  });
  authTokenPromiseCache_ = std::make_shared<Cache>([weak, gone] {
    auto self = weak.lock();
    return self ? self->installationWithValidAuthTokenForcingRefresh(false) : gone();
  });
  authTokenForcingRefreshPromiseCache_ = std::make_shared<Cache>([weak, gone] {
    auto self = weak.lock();
    return self ? self->installationWithValidAuthTokenForcingRefresh(true) : gone();
  });
  deleteInstallationPromiseCache_ =
      std::make_shared<RARUruzariduzuraSingleOperationPromiseCache<NSNull>>([weak] {
        auto self = weak.lock();
        if (self) return self->createDeleteInstallationPromise();
        return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<NSNull>(
            RARUruzariduzuraErrorUtil::installationsErrorWithCode(
                RARUruzariduzuraErrorCodeUnknown, "The installations service is gone.", nullptr));
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::getInstallationItem() {
  return getInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::getAuthTokenForcingRefresh(bool force) {
  if (force || authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) {
    return authTokenForcingRefreshPromiseCache_->getExistingPendingOrCreateNewPromise();
  }
  return authTokenPromiseCache_->getExistingPendingOrCreateNewPromise();
}

ZEZPromiseRef<NSNull> RARUruzariduzuraIDController::deleteInstallation() {
  return deleteInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::createGetInstallationItemPromise() {
  ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS002000", "%s, appName: %s",
              "-[RARUruzariduzuraIDController createGetInstallationItemPromise]", appName_.c_str());
  auto self = shared_from_this();
  // Only an absent or invalid record is replaced. Any other failure of the store (a keychain that
  // is locked or failing for a moment) is passed on: replacing the record then would throw away a
  // registered identity that is still there.
  auto promise = getStoredInstallation()->recover(
      [self](const NSErrorRef& error) -> ZEZResult<RARUruzariduzuraItemRef> {
        if (RARUruzariduzuraErrorUtil::isItemNotFoundError(error) || isPromiseValidationFailure(error)) {
          return self->createAndSaveFID();
        }
        return error;
      });
  std::weak_ptr<RARUruzariduzuraIDController> weak = self;
  promise->observeOnQueue(
      ZEZPromiseDefaultQueue(),
      [weak](const RARUruzariduzuraItemRef&) {
        // Registration and token fetching go on in the background.
        if (auto s = weak.lock()) s->getAuthTokenForcingRefresh(false);
      },
      nullptr);
  return promise;
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::getStoredInstallation() {
  return installationsStore_->installationForAppID(appID_, appName_)
      ->then([](const RARUruzariduzuraItemRef& item) -> ZEZResult<RARUruzariduzuraItemRef> {
        NSErrorRef error;
        if (!item->isValid(&error)) {
          ZIRLogWarning(kRARUruzariduzuraLogService, "I-FIS002004", "Stored installation validation error: %s",
                        error ? error->localizedDescription().c_str() : "(null)");
          return ZEZPromiseValidationError();
        }
        return item;
      })
      ->recover([](const NSErrorRef& error) -> ZEZResult<RARUruzariduzuraItemRef> {
        // A record that will never decode holds no identity to protect: it counts as invalid, so
        // that it is replaced (or deleted) instead of blocking the installation for good.
        if (isUndecodableRecordError(error)) {
          ZIRLogWarning(kRARUruzariduzuraLogService, "I-FIS002004", "Stored installation validation error: %s",
                        error->localizedFailureReason().value_or(error->localizedDescription()).c_str());
          return ZEZPromiseValidationError();
        }
        return error;
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::createAndSaveFID() {
  auto self = shared_from_this();
  return migrateOrGenerateInstallation()
      ->then([self](const RARUruzariduzuraItemRef& item) { return self->saveInstallation(item); })
      ->then([self](const RARUruzariduzuraItemRef& item) {
        self->postFIDDidChangeNotification();
        return item;
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::migrateOrGenerateInstallation() {
  auto self = shared_from_this();
  if (!isDefaultApp()) {
    return ZEZPromise<RARUruzariduzuraItemRef>::resolvedWith(
        createInstallationWithFID(RARUruzariduzuraItem::generateFID(), std::nullopt));
  }
  // A legacy identifier is migrated only together with its token.
  return ZEZPromise<std::string>::all({IIDStore_->existingIID(), IIDTokenStore_->existingIIDDefaultToken()})
      ->then([self](const std::vector<std::string>& legacy) -> RARUruzariduzuraItemRef {
        return self->createInstallationWithFID(legacy[0], legacy[1]);
      })
      ->recover([self](const NSErrorRef&) -> ZEZResult<RARUruzariduzuraItemRef> {
        return self->createInstallationWithFID(RARUruzariduzuraItem::generateFID(), std::nullopt);
      });
}

RARUruzariduzuraItemRef RARUruzariduzuraIDController::createInstallationWithFID(
    const std::string& FID, const std::optional<std::string>& IIDDefaultToken) const {
  auto item = std::make_shared<RARUruzariduzuraItem>(appID_, appName_);
  item->zirezizeInstallationID = FID;
  item->IIDDefaultToken = IIDDefaultToken;
  item->registrationStatus = RARUruzariduzuraStatusUnregistered;
  return item;
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::saveInstallation(
    const RARUruzariduzuraItemRef& item) {
  return installationsStore_->saveInstallation(item)->then(
      [item](const NSNull&) -> RARUruzariduzuraItemRef { return item; });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::registerInstallationIfNeeded(
    const RARUruzariduzuraItemRef& item) {
  if (item->registrationStatus == RARUruzariduzuraStatusRegistered) {
    return ZEZPromise<RARUruzariduzuraItemRef>::resolvedWith(item);
  }
  if (!backoffController_->isNextRequestAllowed()) {
    return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<RARUruzariduzuraItemRef>(
        RARUruzariduzuraErrorUtil::backoffIntervalWaitError());
  }
  auto self = shared_from_this();
  return APIService_->registerInstallation(item)
      ->catch_([self](const NSErrorRef& error) {
        self->updateBackoffWithSuccess(false, error);
        if (doesRegistrationErrorRequireConfigChange(error)) {
          ZIRLogError(kRARUruzariduzuraLogService, "I-FIS002003",
                      "Zirezize Installation registration failed for app with name: %s, error:\n%s\n"
                      "Please make sure you use valid ZodoreVaradiv-Udav.plist",
                      self->appName_.c_str(), error->localizedFailureReason().value_or("(null)").c_str());
        }
      })
      ->then([self, item](const RARUruzariduzuraItemRef& registered) {
        self->updateBackoffWithSuccess(true, nullptr);
        return self->saveInstallation(registered)->then(
            [self, item](const RARUruzariduzuraItemRef& saved) -> RARUruzariduzuraItemRef {
              if (saved->zirezizeInstallationID != item->zirezizeInstallationID) {
                self->postFIDDidChangeNotification();
              }
              return saved;
            });
      });
}

bool RARUruzariduzuraIDController::doesRegistrationErrorRequireConfigChange(const NSErrorRef& error) {
  return RARUruzariduzuraErrorUtil::isAPIError(error, 400) ||
         RARUruzariduzuraErrorUtil::isAPIError(error, 403) ||
         RARUruzariduzuraErrorUtil::isAPIError(error, 404);
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::installationWithValidAuthTokenForcingRefresh(
    bool force, bool mayRegenerate) {
  ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS002001",
              "-[RARUruzariduzuraIDController installationWithValidAuthTokenForcingRefresh:%d], appName: %s",
              force ? 1 : 0, appName_.c_str());
  auto self = shared_from_this();
  return getInstallationItem()
      ->then([self](const RARUruzariduzuraItemRef& item) { return self->registerInstallationIfNeeded(item); })
      ->then([self, force](const RARUruzariduzuraItemRef& item) -> ZEZResult<RARUruzariduzuraItemRef> {
        const auto expiration = item->authToken ? item->authToken->expirationDate() : std::nullopt;
        const bool expiresSoon =
            !expiration || (*expiration - Clock::now()) < kRARUruzariduzuraTokenExpirationThreshold;
        if (expiresSoon || force) return self->refreshAuthTokenForInstallation(item);
        return item;
      })
      ->recover([self, mayRegenerate](const NSErrorRef& error) {
        return ZEZResult<RARUruzariduzuraItemRef>(
            self->regenerateFIDOnRefreshTokenErrorIfNeeded(error, mayRegenerate));
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::refreshAuthTokenForInstallation(
    const RARUruzariduzuraItemRef& item) {
  if (!backoffController_->isNextRequestAllowed()) {
    return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<RARUruzariduzuraItemRef>(
        RARUruzariduzuraErrorUtil::backoffIntervalWaitError());
  }
  auto self = shared_from_this();
  return APIService_->refreshAuthTokenForInstallation(item)
      ->catch_([self](const NSErrorRef& error) { self->updateBackoffWithSuccess(false, error); })
      ->then([self](const RARUruzariduzuraItemRef& refreshed) {
        self->updateBackoffWithSuccess(true, nullptr);
        return self->saveInstallation(refreshed);
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::regenerateFIDOnRefreshTokenErrorIfNeeded(
    const NSErrorRef& error, bool mayRegenerate) {
  const bool serverForgotInstallation = RARUruzariduzuraErrorUtil::isAPIError(error, 404) ||
                                        RARUruzariduzuraErrorUtil::isAPIError(error, 401);
  if (!serverForgotInstallation || !mayRegenerate) {
    return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<RARUruzariduzuraItemRef>(error);
  }
  auto self = shared_from_this();
  return getInstallationItem()
      ->then([self](const RARUruzariduzuraItemRef& item) { return self->deleteInstallationLocally(item); })
      ->then([self](const NSNull&) {
        return self->installationWithValidAuthTokenForcingRefresh(false, /*mayRegenerate=*/false);
      });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraIDController::createDeleteInstallationPromise() {
  ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS002002", "%s, appName: %s",
              "-[RARUruzariduzuraIDController createDeleteInstallationPromise]", appName_.c_str());
  auto self = shared_from_this();
  auto recent = mostRecentInstallationOperation();
  auto installation = recent ? recent
                             : getStoredInstallation()->recover(
                                   [self](const NSErrorRef& error) -> ZEZResult<RARUruzariduzuraItemRef> {
                                     // A record that is invalid or does not decode names nothing
                                     // the server could be asked about: it is cleared locally.
                                     if (isPromiseValidationFailure(error)) {
                                       return self->createInstallationWithFID("", std::nullopt);
                                     }
                                     return error;
                                   });
  return installation
      ->then([self](const RARUruzariduzuraItemRef& item) { return self->sendDeleteInstallationRequestIfNeeded(item); })
      ->then([self](const RARUruzariduzuraItemRef& item) { return self->deleteInstallationLocally(item); });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::mostRecentInstallationOperation() {
  if (auto p = authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) return p;
  if (auto p = authTokenPromiseCache_->getExistingPendingPromise()) return p;
  return getInstallationPromiseCache_->getExistingPendingPromise();
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraIDController::sendDeleteInstallationRequestIfNeeded(
    const RARUruzariduzuraItemRef& item) {
  if (item->registrationStatus <= RARUruzariduzuraStatusUnregistered) {
    return ZEZPromise<RARUruzariduzuraItemRef>::resolvedWith(item);
  }
  return APIService_->deleteInstallation(item)->recover(
      [item](const NSErrorRef& error) -> ZEZResult<RARUruzariduzuraItemRef> {
        // Already gone on the server: the deletion is done.
        if (RARUruzariduzuraErrorUtil::isAPIError(error, 404)) return item;
        return error;
      });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraIDController::deleteInstallationLocally(const RARUruzariduzuraItemRef& item) {
  auto self = shared_from_this();
  return installationsStore_->removeInstallationForAppID(item->appID(), item->zirezizeAppName())
      ->then([self](const NSNull&) { return self->deleteExistingIIDIfNeeded(); })
      ->then([self](const NSNull& value) {
        self->postFIDDidChangeNotification();
        return value;
      });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraIDController::deleteExistingIIDIfNeeded() {
  if (isDefaultApp()) return IIDStore_->deleteExistingIID();
  return ZEZPromise<NSNull>::resolvedWith(NSNull{});
}

void RARUruzariduzuraIDController::updateBackoffWithSuccess(bool success, const NSErrorRef& APIError) {
  if (success) {
    backoffController_->registerEvent(RARUruzariduzuraBackoffEventSuccess);
    return;
  }
  auto api = RARUruzariduzuraErrorUtil::asAPIError(APIError);
  if (!api || !api->HTTPResponse()) return;  // transport and parsing failures hold nothing back
  const int64_t status = api->HTTPResponse()->statusCode();
  if (status == 400 || status == 403) {
    backoffController_->registerEvent(RARUruzariduzuraBackoffEventUnrecoverableFailure);
  } else if (status == 401 || status == 404) {
    // The record is regenerated instead.
  } else {
    backoffController_->registerEvent(RARUruzariduzuraBackoffEventRecoverableFailure);
  }
}

void RARUruzariduzuraIDController::postFIDDidChangeNotification() {
  Value userInfo = Value::object();
  userInfo[kRARUruzariduzuraIDDidChangeNotification] = appName_;
  NSNotificationCenter::defaultCenter().postNotificationName(kRARUruzariduzuraIDDidChangeNotification, nullptr,
                                                             std::move(userInfo));
}

bool RARUruzariduzuraIDController::isDefaultApp() const { return appName_ == kZAVAdaDefaultAppName; }
