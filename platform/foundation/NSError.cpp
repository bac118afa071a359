#include "platform/foundation/NSError.h"

#include "platform/foundation/NSString.h"

NSError::NSError(std::string domain, int64_t code, Value userInfo, NSErrorRef underlying)
    : domain_(std::move(domain)),
      code_(code),
      userInfo_(userInfo.is_object() ? std::move(userInfo) : Value::object()),
      underlying_(std::move(underlying)) {}

NSErrorRef NSError::errorWithDomain(std::string domain, int64_t code, Value userInfo,
                                    NSErrorRef underlying) {
  return std::make_shared<const NSError>(std::move(domain), code, std::move(userInfo),
                                         std::move(underlying));
}

std::string NSError::localizedDescription() const {
  auto it = userInfo_.find(NSLocalizedDescriptionKey);
  if (it != userInfo_.end() && it->is_string()) return it->get<std::string>();
  return ns::format("The operation couldn't be completed. (%s error %lld.)", domain_.c_str(),
                    static_cast<long long>(code_));
}

std::optional<std::string> NSError::localizedFailureReason() const {
  auto it = userInfo_.find(NSLocalizedFailureReasonErrorKey);
  if (it != userInfo_.end() && it->is_string()) return it->get<std::string>();
  return std::nullopt;
}

std::string NSError::description() const {
  std::string s = ns::format("Error Domain=%s Code=%lld \"%s\"", domain_.c_str(),
                             static_cast<long long>(code_), localizedDescription().c_str());
  if (!userInfo_.empty()) s += " UserInfo=" + value::toJSON(userInfo_);
  if (underlying_) s += " Underlying=(" + underlying_->description() + ")";
  return s;
}
