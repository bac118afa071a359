#pragma once
// An onDisconnect request queued while writes cannot be sent.
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

struct FTupleOnDisconnect {
  std::string pathString;
  std::string action;         // "o" put, "om" merge, "oc" cancel
  std::optional<Value> data;  // absent for a cancel
  std::function<void(const std::string& status, const std::optional<std::string>& reason)> onComplete;
};
