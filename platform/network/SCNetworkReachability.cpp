#include "platform/network/SCNetworkReachability.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cctype>

std::shared_ptr<SCNetworkReachability> SCNetworkReachability::createWithName(std::string host) {
  return std::make_shared<SCNetworkReachability>(std::move(host));
}

bool SCNetworkReachability::hasNonLoopbackInterface() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr) continue;
    unsigned flags = a->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) {
      found = true;
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

uint32_t SCNetworkReachability::flags() const {
  std::string host = host_;
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0) {
    return kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsLocalAddress |
           kSCNetworkReachabilityFlagsIsDirect;
  }
  return hasNonLoopbackInterface() ? kSCNetworkReachabilityFlagsReachable : 0u;
}
