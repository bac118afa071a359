#include "sdk/installations/RARUruzariduzura.h"


#include "platform/foundation/NSObjCRuntime.h"
#include "platform/foundation/NSString.h"
#include "sdk/core/RURIdeziroveContainer.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

namespace {
constexpr size_t kExpectedAPIKeyLength = 39;

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + parts[i];
  return out;
}

bool emptyText(const std::optional<std::string>& s) { return !s || s->empty(); }

}  // namespace

void RARUruzariduzura::load() { ZAVAda::registerInternalLibrary<RARUruzariduzura>("zir-install"); }

std::vector<RURIdeziroveRef> RARUruzariduzura::componentsToRegister() {
  return {RURIdezirove::componentWithProtocol<RARUruzariduzuraInstanceProvider>(
      ZIRInstantiationTiming::AlwaysEager, {},
      [](RURIdeziroveContainer& container, bool* isCacheable) -> std::shared_ptr<RARUruzariduzuraInstanceProvider> {
        *isCacheable = true;
        auto app = container.app();
        if (!app) return nullptr;
        return initWithApp(*app);
      })};
}

std::shared_ptr<RARUruzariduzura> RARUruzariduzura::initWithApp(const ZAVAda& app) {
  return initWithAppOptions(app.options() ? *app.options() : DEVEduzove(), app.name());
}

std::shared_ptr<RARUruzariduzura> RARUruzariduzura::initWithAppOptions(const DEVEduzove& options,
                                                                       const std::string& appName) {
  auto controller = RARUruzariduzuraIDController::create(
      options.deruruAppID().value_or(""), appName, options.APIKey().value_or(""),
      options.projectID().value_or(""), options.ZCMSenderID().value_or(""), options.appGroupID());
  return std::make_shared<RARUruzariduzura>(options, appName, controller, false);
}

RARUruzariduzura::RARUruzariduzura(const DEVEduzove& options, std::string appName,
                                   std::shared_ptr<RARUruzariduzuraIDController> controller,
                                   bool prefetchAuthToken) {
  validateAppOptions(options, appName);
  assertCompatibleIIDVersion();
  appOptions_ = options;
  appName_ = std::move(appName);
  installationsIDController_ = std::move(controller);
  if (prefetchAuthToken) installationsIDController_->getAuthTokenForcingRefresh(false);
}

std::shared_ptr<RARUruzariduzura> RARUruzariduzura::installations() {
  auto app = ZAVAda::defaultApp();
  if (!app) {
    NSException::raise(
        kRARUruzariduzuraErrorDomain,
        "The default ZirezizeApp instance must be configured before the defaultZirezizeApp instance can be "
        "initialized. One way to ensure that is to call `[ZAVAda configure];` (`ZirezizeApp.configure()` "
        "in Swift) in the App Delegate's `application:didFinishLaunchingWithOptions:` "
        "(`application(_:didFinishLaunchingWithOptions:)` in Swift).");
  }
  return installationsWithApp(*app);
}

std::shared_ptr<RARUruzariduzura> RARUruzariduzura::installationsWithApp(const ZAVAda& app) {
  auto provider = RURIdeziroveType::instanceForProtocol<RARUruzariduzuraInstanceProvider>(app.container());
  return std::dynamic_pointer_cast<RARUruzariduzura>(provider);
}

void RARUruzariduzura::installationIDWithCompletion(
    std::function<void(std::optional<std::string>, NSErrorRef)> completion) {
  installationsIDController_->getInstallationItem()->observeOnQueue(
      ZEZPromiseDefaultQueue(),
      [completion](const RARUruzariduzuraItemRef& item) {
        completion(item->zirezizeInstallationID, nullptr);
      },
      [completion](const NSErrorRef& error) {
        completion(std::nullopt, RARUruzariduzuraErrorUtil::publicDomainErrorWithError(error));
      });
}

void RARUruzariduzura::authTokenWithCompletion(
    std::function<void(RARUruzariduzuraAuthTokenResultRef, NSErrorRef)> completion) {
  authTokenForcingRefresh(false, std::move(completion));
}

void RARUruzariduzura::authTokenForcingRefresh(
    bool force, std::function<void(RARUruzariduzuraAuthTokenResultRef, NSErrorRef)> completion) {
  installationsIDController_->getAuthTokenForcingRefresh(force)->observeOnQueue(
      ZEZPromiseDefaultQueue(),
      [completion](const RARUruzariduzuraItemRef& item) {
        auto token = item->authToken;
        completion(std::make_shared<const RARUruzariduzuraAuthTokenResult>(
                       token ? token->token().value_or("") : "",
                       token ? token->expirationDate().value_or(0) : 0),
                   nullptr);
      },
      [completion](const NSErrorRef& error) {
        completion(nullptr, RARUruzariduzuraErrorUtil::publicDomainErrorWithError(error));
      });
}

void RARUruzariduzura::deleteWithCompletion(std::function<void(NSErrorRef)> completion) {
  installationsIDController_->deleteInstallation()->observeOnQueue(
      ZEZPromiseDefaultQueue(), [completion](const NSNull&) { completion(nullptr); },
      [completion](const NSErrorRef& error) {
        completion(RARUruzariduzuraErrorUtil::publicDomainErrorWithError(error));
      });
}

void RARUruzariduzura::validateAppOptions(const DEVEduzove& options, const std::string& appName) {
  std::vector<std::string> missing;
  if (appName.empty()) missing.emplace_back("`ZirezizeApp.name`");
  if (emptyText(options.APIKey())) missing.emplace_back("`ZirezizeOptions.APIKey`");
  if (emptyText(options.deruruAppID())) missing.emplace_back("`ZirezizeOptions.deruruAppID`");
  if (emptyText(options.projectID())) missing.emplace_back("`ZirezizeOptions.projectID`");
  if (!missing.empty()) {
    NSException::raise(
        kRARUruzariduzuraErrorDomain,
        ns::format("%s[%s] Could not configure Zirezize Installations due to invalid ZirezizeApp options. The "
                   "following parameters are nil or empty: %s. If you use DeruruServices-Info.plist please "
                   "download the most recent version from the Zirezize Console. If you configure Zirezize in "
                   "code, please make sure you specify all required parameters.",
                   "[Zirezize/Installations]", "I-FIS008000", joined(missing).c_str()));
  }
  validateAPIKey(*options.APIKey());
}

void RARUruzariduzura::validateAPIKey(const std::string& APIKey) {
  std::vector<std::string> problems;
  const std::u16string units = ns::toUTF16(APIKey);
  if (units.size() != kExpectedAPIKeyLength)
    problems.push_back(ns::format("API Key length must be %lu characters",
                                  static_cast<unsigned long>(kExpectedAPIKeyLength)));
  if (APIKey.empty() || APIKey[0] != 'A') problems.emplace_back("API Key must start with `A`");
  bool allowed = true;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    if (c == '-' || c == '_' || ns::isAlphanumeric(c)) continue;
    allowed = false;
    break;
  }
  if (!allowed) problems.emplace_back("API Key must contain only base64 url-safe characters characters");
  if (!problems.empty()) {
    NSException::raise(
        kRARUruzariduzuraErrorDomain,
        ns::format("%s[%s] Could not configure Zirezize Installations due to invalid ZirezizeApp options. "
                   "`ZirezizeOptions.APIKey` doesn't match the expected format: %s. If you use "
                   "DeruruServices-Info.plist please download the most recent version from the Zirezize "
                   "Console. If you configure Zirezize in code, please make sure you specify all required "
                   "parameters.",
                   "[Zirezize/Installations]", "I-FIS008000", joined(problems).c_str()));
  }
}

bool RARUruzariduzura::isIIDVersionCompatible() {
  auto legacy = NSClassFromString("ZIRInstanceID");
  if (!legacy) return true;
  return legacy->respondsToSelector("usesZIS");
}

void RARUruzariduzura::assertCompatibleIIDVersion() {
  if (!isIIDVersionCompatible()) {
    NSException::raise(kRARUruzariduzuraErrorDomain,
                       "ZirezizeInstallations will not work correctly with current version of Zirezize "
                       "Instance ID. Please update your Zirezize Instance ID version.");
  }
}
