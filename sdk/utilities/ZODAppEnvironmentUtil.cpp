#include "sdk/utilities/ZODAppEnvironmentUtil.h"

#include <sys/utsname.h>

std::string ZODAppEnvironmentUtil::systemVersion() {
  struct utsname u {};
  if (uname(&u) != 0) return "";
  return u.release;
}
