#pragma once
// The identity of one database: the host the user configured (or an emulator's host and port),
// whether the connection is secure and the namespace (the database's name). It also carries the
// host the client actually connects to, which the server may redirect and which is cached in the
// standard user defaults across launches under "zirezize:host:<host>", and it builds the
// connection URL. FParsedUrl is what URL parsing (FUtilities::parseUrl) makes of a database URL:
// the database and the location in it.
//
// Shared as std::shared_ptr<const FRepoInfo>; everything but the internal host is fixed at
// construction. The internal host is read and written under the info's own lock, since the
// connection changes it on the work queue while other threads read the info.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/database/core/FPath.h"

class FRepoInfo;
using FRepoInfoRef = std::shared_ptr<const FRepoInfo>;

class FRepoInfo {
 public:
  // The service's own domains; any other domain is a custom host.
  static constexpr const char* kProductionDomain = "zirezizeio.com";
  static constexpr const char* kDemoDomain = "zirezizeio-demo.com";

  // Refused: raises "ZIRDatabaseInvalidInitializer" ("Invalid initializer invoked. This is
  // probably a bug in RTDB.").
  FRepoInfo();
  // Reads the cached internal host of `host` from the standard user defaults once.
  FRepoInfo(std::string host, bool secure, std::string ns);
  // The info's namespace on the emulator host, not secure.
  FRepoInfo(const FRepoInfo& info, const std::string& emulatedHost);

  const std::string& host() const { return host_; }
  bool secure() const { return secure_; }
  const std::string& ns() const { return namespace_; }  // `namespace` is a C++ keyword
  const std::string& domain() const { return domain_; }
  std::string internalHost() const;

  // Stores a different host and writes it to the user defaults (synchronised); an equal one
  // changes nothing.
  void setInternalHost(const std::string& newHost) const;
  // Back to the configured host, and the cached one forgotten.
  void clearInternalHostCache() const;

  bool isCustomHost() const;
  std::string connectionURL() const;
  std::string connectionURLWithLastSessionID(const std::optional<std::string>& lastSessionID) const;
  // "https://<host>" or "http://<host>".
  std::string description() const;

  bool isEqual(const FRepoInfo& other) const;
  uint64_t hash() const;
  bool operator==(const FRepoInfo& other) const { return isEqual(other); }

 private:
  std::string userDefaultsKey() const;

  std::string host_;
  bool secure_ = false;
  std::string namespace_;
  std::string domain_;
  mutable std::mutex mutex_;
  mutable std::string internalHost_;
};

struct FRepoInfoHash {
  size_t operator()(const FRepoInfoRef& info) const { return info ? static_cast<size_t>(info->hash()) : 0; }
};
struct FRepoInfoEqual {
  bool operator()(const FRepoInfoRef& a, const FRepoInfoRef& b) const {
    return a == b || (a && b && a->isEqual(*b));
  }
};

class FParsedUrl;
using FParsedUrlRef = std::shared_ptr<const FParsedUrl>;

class FParsedUrl {
 public:
  FParsedUrl(FRepoInfoRef repoInfo, FPathRef path) : repoInfo_(std::move(repoInfo)), path_(std::move(path)) {}
  const FRepoInfoRef& repoInfo() const { return repoInfo_; }
  const FPathRef& path() const { return path_; }

 private:
  FRepoInfoRef repoInfo_;
  FPathRef path_;
};
