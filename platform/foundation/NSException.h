#pragma once
// A named failure: a programming error or a failure the caller cannot handle as an error value.
#include <stdexcept>
#include <string>

#include "platform/foundation/Value.h"

inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSRangeException = "NSRangeException";
inline constexpr const char* NSGenericException = "NSGenericException";

class NSException : public std::runtime_error {
 public:
  NSException(std::string name, std::string reason, Value userInfo = Value());
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const Value& userInfo() const { return userInfo_; }

  [[noreturn]] static void raise(std::string name, std::string reason);
  [[noreturn]] static void raise(std::string name, const char* fmt, ...)
      __attribute__((format(printf, 2, 3)));

 private:
  std::string name_;
  std::string reason_;
  Value userInfo_;
};
