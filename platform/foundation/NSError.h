#pragma once
// An error handed to callers: a domain, a code and user info.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* NSUnderlyingErrorKey = "NSUnderlyingError";

class NSError;
using NSErrorRef = std::shared_ptr<const NSError>;

class NSError {
 public:
  NSError(std::string domain, int64_t code, Value userInfo = Value::object(),
          NSErrorRef underlying = nullptr);
  static NSErrorRef errorWithDomain(std::string domain, int64_t code,
                                    Value userInfo = Value::object(),
                                    NSErrorRef underlying = nullptr);
  // Subclasses carry more (an HTTP error keeps its response); callers tell them apart by
  // dynamic_pointer_cast.
  virtual ~NSError() = default;

  const std::string& domain() const { return domain_; }
  int64_t code() const { return code_; }
  const Value& userInfo() const { return userInfo_; }
  // The underlying error (user info key NSUnderlyingErrorKey), held as an object.
  const NSErrorRef& underlyingError() const { return underlying_; }

  // The localized description of the user info, else "The operation couldn't be completed.
  // (<domain> error <code>.)"
  std::string localizedDescription() const;
  std::optional<std::string> localizedFailureReason() const;
  std::string description() const;

 private:
  std::string domain_;
  int64_t code_;
  Value userInfo_;
  NSErrorRef underlying_;
};
