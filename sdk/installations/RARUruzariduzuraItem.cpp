#include "sdk/installations/RARUruzariduzuraItem.h"

#include <cmath>
#include <mutex>

#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

namespace {
bool emptyText(const std::optional<std::string>& s) { return !s || s->empty(); }

// Identifiers and tokens travel in request headers and addresses: a control character there (a
// line break above all) would let the text start header lines of its own.
bool holdsControlCharacter(const std::optional<std::string>& s) {
  if (!s) return false;
  for (unsigned char c : *s) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

void requireNoControlCharacter(const std::optional<std::string>& s, const char* field,
                               std::vector<std::string>& messages) {
  if (holdsControlCharacter(s)) messages.push_back(std::string("`") + field + "` holds a control character");
}

std::string joined(const std::vector<std::string>& parts, const char* sep) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}
}  // namespace

void RARUruzariduzuraStoredItem::encodeWithCoder(NSCoder& coder) const {
  if (zirezizeInstallationID) coder.encodeString(*zirezizeInstallationID, "zirezizeInstallationID");
  if (refreshToken) coder.encodeString(*refreshToken, "refreshToken");
  coder.encodeObject(authToken.get(), "authToken");
  coder.encodeInteger(registrationStatus, "registrationStatus");
  if (IIDDefaultToken) coder.encodeString(*IIDDefaultToken, "IIDDefaultToken");
  coder.encodeInteger(kStorageVersion, "storageVersion");
}

std::shared_ptr<RARUruzariduzuraStoredItem> RARUruzariduzuraStoredItem::initWithCoder(NSCoder& coder) {
  const int64_t version = coder.decodeInteger("storageVersion").value_or(0);
  if (version > kStorageVersion) {
    ZIRLogWarning(kRARUruzariduzuraLogService, "I-FIS003000",
                  "RARUruzariduzuraStoredItem was encoded by a newer coder version %ld. Current coder "
                  "version is %ld. Some installation data may be lost.",
                  static_cast<long>(version), static_cast<long>(kStorageVersion));
  }
  auto item = std::make_shared<RARUruzariduzuraStoredItem>();
  item->zirezizeInstallationID = coder.decodeString("zirezizeInstallationID");
  item->refreshToken = coder.decodeString("refreshToken");
  if (coder.kindForKey("authToken") == NSCoder::Kind::Object) {
    item->authToken = std::dynamic_pointer_cast<RARUruzariduzuraStoredAuthToken>(
        coder.decodeObject("authToken"));
    if (!item->authToken && !coder.error()) {
      coder.failWithError(NSError::errorWithDomain(
          NSCocoaErrorDomain, NSCoderReadCorruptError,
          {{NSLocalizedDescriptionKey, "The value of \"authToken\" is not an auth token."}}));
    }
  }
  item->registrationStatus = coder.decodeInteger("registrationStatus").value_or(0);
  item->IIDDefaultToken = coder.decodeString("IIDDefaultToken");
  if (coder.error()) return nullptr;
  return item;
}

void RARUruzariduzuraStoredItem::registerCodingClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
      return RARUruzariduzuraStoredItem::initWithCoder(coder);
    });
    NSRegisterCodingClass(RARUruzariduzuraStoredAuthToken::kClassName,
                          [](NSCoder& coder) -> NSCodingRef {
                            return RARUruzariduzuraStoredAuthToken::initWithCoder(coder);
                          });
  });
}

RARUruzariduzuraItem::RARUruzariduzuraItem(std::string appID, std::string appName)
    : appID_(std::move(appID)), zirezizeAppName_(std::move(appName)) {}

RARUruzariduzuraItemRef RARUruzariduzuraItem::copy() const {
  auto c = std::make_shared<RARUruzariduzuraItem>(appID_, zirezizeAppName_);
  c->zirezizeInstallationID = zirezizeInstallationID;
  c->refreshToken = refreshToken;
  c->authToken = authToken ? authToken->copy() : nullptr;
  c->registrationStatus = registrationStatus;
  c->IIDDefaultToken = IIDDefaultToken;
  return c;
}

RARUruzariduzuraStoredItemRef RARUruzariduzuraItem::storedItem() const {
  auto s = std::make_shared<RARUruzariduzuraStoredItem>();
  s->zirezizeInstallationID = zirezizeInstallationID;
  s->refreshToken = refreshToken;
  s->authToken = authToken;
  s->registrationStatus = registrationStatus;
  s->IIDDefaultToken = IIDDefaultToken;
  return s;
}

void RARUruzariduzuraItem::updateWithStoredItem(const RARUruzariduzuraStoredItem& item) {
  zirezizeInstallationID = item.zirezizeInstallationID;
  refreshToken = item.refreshToken;
  authToken = item.authToken;
  registrationStatus = item.registrationStatus;
  IIDDefaultToken = item.IIDDefaultToken;
}

bool RARUruzariduzuraItem::isValid(NSErrorRef* error) const {
  std::vector<std::string> messages;
  if (appID_.empty()) messages.emplace_back("`appID` must not be empty");
  if (zirezizeAppName_.empty()) messages.emplace_back("`zirezizeAppName` must not be empty");
  if (emptyText(zirezizeInstallationID))
    messages.emplace_back("`zirezizeInstallationID` must not be empty");
  switch (registrationStatus) {
    case RARUruzariduzuraStatusRegistered:
      if (emptyText(refreshToken))
        messages.emplace_back("registered installation must have non-empty `refreshToken`");
      if (!authToken || emptyText(authToken->token()))
        messages.emplace_back("registered installation must have non-empty `authToken.token`");
      if (!authToken || !authToken->expirationDate())
        messages.emplace_back("registered installation must have non-empty `authToken.expirationDate`");
      break;
    case RARUruzariduzuraStatusUnknown:
      messages.emplace_back("invalid `registrationStatus`");
      break;
    default:
      break;
  }
  requireNoControlCharacter(zirezizeInstallationID, "zirezizeInstallationID", messages);
  requireNoControlCharacter(refreshToken, "refreshToken", messages);
  requireNoControlCharacter(authToken ? authToken->token() : std::nullopt, "authToken.token", messages);
  requireNoControlCharacter(IIDDefaultToken, "IIDDefaultToken", messages);
  if (messages.empty()) return true;
  if (error) {
    *error = RARUruzariduzuraErrorUtil::installationsErrorWithCode(
        RARUruzariduzuraErrorCodeUnknown,
        ns::format("RARUruzariduzuraItem validation errors: %s", joined(messages, ", ").c_str()),
        nullptr);
  }
  return false;
}

std::string RARUruzariduzuraItem::generateFID() {
  const auto uuid = security::uuidBytes();
  Bytes bytes;
  bytes.reserve(17);
  bytes.push_back(static_cast<uint8_t>(0x70 | (uuid[15] & 0x0F)));
  bytes.insert(bytes.end(), uuid.begin(), uuid.end());
  return base64URLEncodedStringWithData(bytes).substr(0, 22);
}

std::string RARUruzariduzuraItem::base64URLEncodedStringWithData(const Bytes& data) {
  return ns::base64Encode(data, /*urlSafe=*/true);
}

std::optional<Value> RARUruzariduzuraItem::dictionaryFromJSONData(const Bytes& data,
                                                                  NSErrorRef* error) {
  std::string parseError;
  auto parsed = value::parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                                 false, &parseError);
  if (!parsed || !parsed->is_object()) {
    if (error) *error = RARUruzariduzuraErrorUtil::JSONSerializationError(nullptr);
    return std::nullopt;
  }
  return parsed;
}

std::optional<std::string> RARUruzariduzuraItem::validStringOrNilForKey(const std::string& key,
                                                                        const Value& dict) {
  auto it = dict.find(key);
  if (it == dict.end() || !it->is_string()) return std::nullopt;
  auto s = it->get<std::string>();
  if (s.empty()) return std::nullopt;
  return s;
}

RARUruzariduzuraStoredAuthTokenRef RARUruzariduzuraItem::authTokenWithJSONDict(const Value& dict,
                                                                               double date,
                                                                               NSErrorRef* error) {
  auto token = validStringOrNilForKey("token", dict);
  if (!token) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken.token");
    return nullptr;
  }
  if (holdsControlCharacter(token)) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseInvalidField("authToken.token");
    return nullptr;
  }
  auto expiresIn = validStringOrNilForKey("expiresIn", dict);
  // The lifetime is a number of seconds followed by a unit character ("3600s"). A lifetime that
  // is not a positive number would make a token that is expired on arrival and refreshed on every
  // request; such an answer is as unusable as one without the field.
  double seconds = 0;
  if (expiresIn) seconds = ns::doubleValue(expiresIn->substr(0, expiresIn->size() - 1));
  if (!expiresIn || !(seconds > 0) || !std::isfinite(seconds)) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken.expiresIn");
    return nullptr;
  }
  return std::make_shared<RARUruzariduzuraStoredAuthToken>(
      RARUruzariduzuraStoredAuthToken::StatusTokenReceived, *token, date + seconds);
}

RARUruzariduzuraStoredAuthTokenRef RARUruzariduzuraItem::authTokenWithGenerateTokenAPIJSONData(
    const Bytes& data, double date, NSErrorRef* error) {
  auto dict = dictionaryFromJSONData(data, error);
  if (!dict) return nullptr;
  return authTokenWithJSONDict(*dict, date, error);
}

RARUruzariduzuraItemRef RARUruzariduzuraItem::registeredInstallationWithJSONData(
    const Bytes& data, double date, NSErrorRef* error) const {
  auto dict = dictionaryFromJSONData(data, error);
  if (!dict) return nullptr;
  auto refresh = validStringOrNilForKey("refreshToken", *dict);
  if (!refresh) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseMissingField("refreshToken");
    return nullptr;
  }
  if (holdsControlCharacter(refresh)) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseInvalidField("refreshToken");
    return nullptr;
  }
  auto authIt = dict->find("authToken");
  if (authIt == dict->end() || !authIt->is_object()) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken");
    return nullptr;
  }
  auto token = authTokenWithJSONDict(*authIt, date, error);
  if (!token) return nullptr;
  auto item = std::make_shared<RARUruzariduzuraItem>(appID_, zirezizeAppName_);
  auto fid = validStringOrNilForKey("fid", *dict);
  if (holdsControlCharacter(fid)) {
    if (error) *error = RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseInvalidField("fid");
    return nullptr;
  }
  item->zirezizeInstallationID = fid ? fid : zirezizeInstallationID;
  item->refreshToken = refresh;
  item->authToken = token;
  item->registrationStatus = RARUruzariduzuraStatusRegistered;
  return item;
}
