#pragma once
// Network reachability: whether a host can be reached without establishing a connection first.
// Loopback hosts are always reachable; any other host is reachable when an interface other than
// loopback is up and running with an address.
#include <cstdint>
#include <memory>
#include <string>

enum SCNetworkReachabilityFlags : uint32_t {
  kSCNetworkReachabilityFlagsReachable = 1u << 1,
  kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16,
  kSCNetworkReachabilityFlagsIsDirect = 1u << 17,
};

class SCNetworkReachability {
 public:
  static std::shared_ptr<SCNetworkReachability> createWithName(std::string host);
  explicit SCNetworkReachability(std::string host) : host_(std::move(host)) {}

  // Current flags, read from the system's interfaces at each call.
  uint32_t flags() const;
  bool isReachable() const { return (flags() & kSCNetworkReachabilityFlagsReachable) != 0; }

  // Whether any interface other than loopback is up, running and has an address.
  static bool hasNonLoopbackInterface();

 private:
  std::string host_;
};
