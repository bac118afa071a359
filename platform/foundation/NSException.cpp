#include "platform/foundation/NSException.h"

#include "platform/foundation/NSString.h"

#include <cstdarg>
#include <cstdio>

NSException::NSException(std::string name, std::string reason, Value userInfo)
    : std::runtime_error(name + ": " + reason),
      name_(std::move(name)),
      reason_(std::move(reason)),
      userInfo_(std::move(userInfo)) {}

void NSException::raise(std::string name, std::string reason) {
  throw NSException(std::move(name), std::move(reason));
}

void NSException::raise(std::string name, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string reason = ns::vformat(fmt, ap);
  va_end(ap);
  throw NSException(std::move(name), std::move(reason));
}
