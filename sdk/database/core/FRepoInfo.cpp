#include "sdk/database/core/FRepoInfo.h"

#include <functional>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"

namespace {

std::string domainOf(const std::string& host) {
  size_t dot = host.find('.');
  return dot == std::string::npos ? host : host.substr(dot + 1);
}

uint64_t stringHash(const std::string& text) { return static_cast<uint64_t>(std::hash<std::string>{}(text)); }

}  // namespace

FRepoInfo::FRepoInfo() {
  NSException::raise("ZIRDatabaseInvalidInitializer", "Invalid initializer invoked. This is probably a bug in RTDB.");
}

FRepoInfo::FRepoInfo(std::string host, bool secure, std::string ns)
    : host_(std::move(host)), secure_(secure), namespace_(std::move(ns)), domain_(domainOf(host_)) {
  std::optional<std::string> cached = NSUserDefaults::standardUserDefaults()->stringForKey(userDefaultsKey());
  internalHost_ = cached ? *cached : host_;
}

FRepoInfo::FRepoInfo(const FRepoInfo& info, const std::string& emulatedHost)
    : FRepoInfo(emulatedHost, false, info.ns()) {}

std::string FRepoInfo::userDefaultsKey() const { return "zirezize:host:" + host_; }

std::string FRepoInfo::internalHost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return internalHost_;
}

void FRepoInfo::setInternalHost(const std::string& newHost) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (internalHost_ == newHost) return;
    internalHost_ = newHost;
  }
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject(Value(newHost), userDefaultsKey());
  defaults->synchronize();
}

void FRepoInfo::clearInternalHostCache() const {
  setInternalHost(host_);
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->removeObjectForKey(userDefaultsKey());
  defaults->synchronize();
}

bool FRepoInfo::isCustomHost() const { return domain_ != kProductionDomain && domain_ != kDemoDomain; }

std::string FRepoInfo::connectionURL() const { return connectionURLWithLastSessionID(std::nullopt); }

std::string FRepoInfo::connectionURLWithLastSessionID(const std::optional<std::string>& lastSessionID) const {
  std::string url = ns::format("%s://%s/.ws?%s=%s&ns=%s", secure_ ? "wss" : "ws", internalHost().c_str(), "v", "5",
                               namespace_.c_str());
  if (lastSessionID) url = ns::format("%s&ls=%s", url.c_str(), lastSessionID->c_str());
  return url;
}

std::string FRepoInfo::description() const { return ns::format("http%s://%s", secure_ ? "s" : "", host_.c_str()); }

bool FRepoInfo::isEqual(const FRepoInfo& other) const {
  if (this == &other) return true;
  return secure_ == other.secure_ && host_ == other.host_ && namespace_ == other.namespace_;
}

uint64_t FRepoInfo::hash() const {
  uint64_t h = stringHash(host_);
  h = 31 * h + (secure_ ? 1 : 0);
  h = 31 * h + stringHash(namespace_);
  h = 31 * h + stringHash(host_);
  return h;
}
